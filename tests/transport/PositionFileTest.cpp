// Range marks and the position file beside the movie: names, values, exact bytes, kept
// sections, failures to write and a movie deleted while open.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "TransportTestSupport.h"
#include "controls/TraValue.h"

using namespace skm;
using namespace skmtest;

namespace {

std::string Bytes(const QString& path) { return ReadFileBytes(path.toStdString()); }

bool Put(const QString& path, const std::string& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

const std::string kBom = "\xEF\xBB\xBF";

TEST(PositionFileName, LastDotOfTheFileNameOnly) {
  const struct {
    const char* movie;
    const char* vpo;
  } cases[] = {
      {"/clips/swing.mp4", "/clips/swing.vpo"},
      {"/clips/a.b.mp4", "/clips/a.b.vpo"},
      {"/clips/clip.v2/movie", "/clips/clip.v2/movie.vpo"},
      {"/clips/clip.v2/movie.mov", "/clips/clip.v2/movie.vpo"},
      {"movie", "movie.vpo"},
      {"/clips/.hidden", "/clips/.vpo"},
      {"D:\\clips.x\\swing.mp4", "D:\\clips.x\\swing.vpo"},
      {"D:\\clips.x\\swing", "D:\\clips.x\\swing.vpo"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PositionFileName(QString::fromUtf8(c.movie)), QString::fromUtf8(c.vpo)) << c.movie;
}

TEST(PositionValue, HexDecimalAndTheRest) {
  const struct {
    const char* text;
    std::optional<int64_t> value;
  } cases[] = {
      {"0x10", 16}, {"0X1f", 31}, {"120", 120}, {"-5", -5}, {"+7", 7}, {"0", 0},
      {"0xFFFFFFFFFFFFFFFF", -1}, {"9223372036854775807", INT64_MAX},
      {"abc", std::nullopt}, {"", std::nullopt}, {"0x", std::nullopt}, {"0xg", std::nullopt},
      {"$10", std::nullopt}, {"12a", std::nullopt}, {"1.5", std::nullopt}, {"-0x10", std::nullopt},
      {"++1", std::nullopt}, {"0x1FFFFFFFFFFFFFFFF", std::nullopt}, {"99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParsePositionValue(c.text), c.value) << c.text;
}

class MarksTest : public LaneTest {
protected:
  // 30 frames at 30000/1001: the duration is not a whole number of frame steps.
  void OpenShort(const QString& name = "movie.mp4") {
    movie = CopyMovie(Recipe("30000/1001", 30), dir, name);
    ASSERT_FALSE(movie.isEmpty());
    vpo = PositionFileName(movie);
    Open(movie);
  }
  QString movie, vpo;
};

TEST_F(MarksTest, NoFileGivesMarkBAtTheLastWholeFrame) {
  OpenShort();
  const TMediaTime d = mgr->Duration();
  ASSERT_NE(d % step, 0u);
  EXPECT_EQ(bar->Range0(), 0u);
  EXPECT_EQ(bar->Range1(), d / step * step);
  EXPECT_LT(bar->Range1(), d);
  // The step-forward button jumps to mark B, which lies before the end.
  GoTo(3);
  bar->TraFWardExecute();
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  EXPECT_EQ(mgr->CurrentTime(), bar->Range1());
  EXPECT_FALSE(QFileInfo::exists(vpo));  // reading writes nothing
}

TEST_F(MarksTest, SaveWritesTheExactBytes) {
  OpenShort();
  bar->SetRange0(12 * step + step / 2);  // off the frame boundary: rounded down
  bar->SetRange1(24 * step);
  ASSERT_TRUE(bar->RangesSaveToFile());
  EXPECT_EQ(Bytes(vpo), kBom + "[VideoPosition]\r\nStart=12\r\nEnd=24\r\n\r\n");
  // Read back onto the frame boundaries.
  bar->SetDuration(mgr->Duration());
  bar->RangesOpenFromFile();
  EXPECT_EQ(bar->Range0(), 12 * step);
  EXPECT_EQ(bar->Range1(), 24 * step);
  EXPECT_EQ(bar->TraTrack->Value0(), 12 * step);
  EXPECT_EQ(bar->TraTrack->Value1(), 24 * step);
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2) << QDir(dir).entryList().join(",").toStdString();
}

TEST_F(MarksTest, OtherSectionsAndKeysStayInPlace) {
  OpenShort();
  ASSERT_TRUE(Put(vpo, "[User]\r\nnote=keep me\r\n\r\n[videoposition]\r\nstart=3\r\nZoom=2\r\n\r\n[Tail]\r\nx=1\r\n"));
  bar->RangesOpenFromFile();
  EXPECT_EQ(bar->Range0(), 3 * step);  // names matched without regard to case
  bar->SetRange0(5 * step);
  bar->SetRange1(20 * step);
  const std::string expected = kBom +
      "[User]\r\nnote=keep me\r\n\r\n[videoposition]\r\nstart=5\r\nZoom=2\r\nEnd=20\r\n\r\n[Tail]\r\nx=1\r\n\r\n";
  ASSERT_TRUE(bar->RangesSaveToFile());
  EXPECT_EQ(Bytes(vpo), expected);
  ASSERT_TRUE(bar->RangesSaveToFile());  // saving twice keeps them too
  EXPECT_EQ(Bytes(vpo), expected);
}

TEST_F(MarksTest, ValuesReadFromTheFile) {
  OpenShort();
  const TMediaTime d = mgr->Duration();
  const TMediaTime lastWhole = d / step * step;
  const struct {
    const char* what;
    const char* file;
    TMediaTime a, b;
  } cases[] = {
      {"hexadecimal", "[VideoPosition]\nStart=0x10\nEnd=0x14\n", 16 * step, 20 * step},
      {"not a number gives the defaults", "[VideoPosition]\nStart=abc\nEnd=\n", 0, lastWhole},
      {"missing keys", "[VideoPosition]\n", 0, lastWhole},
      {"other section only", "[Other]\nStart=7\n", 0, lastWhole},
      {"beyond the movie clamps to the duration", "[VideoPosition]\nStart=1000\nEnd=1000\n", d, d},
      {"negative clamps to the duration", "[VideoPosition]\nStart=-1\nEnd=-30\n", d, d},
      {"a product too large for the time clamps too", "[VideoPosition]\nStart=0x7FFFFFFFFFFFFFFF\nEnd=4\n", d,
       4 * step},
      {"A after B is kept", "[VideoPosition]\nStart=20\nEnd=10\n", 20 * step, 10 * step},
      {"empty file", "", 0, lastWhole},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Put(vpo, c.file));
    bar->SetDuration(d);
    bar->RangesOpenFromFile();
    EXPECT_EQ(bar->Range0(), c.a) << c.what;
    EXPECT_EQ(bar->Range1(), c.b) << c.what;
    EXPECT_EQ(bar->TraTrack->Value0(), c.a) << c.what;
    EXPECT_EQ(bar->TraTrack->Value1(), c.b) << c.what;
  }
}

TEST_F(MarksTest, AAfterBStartsAtAAndPausesAtTheNextReport) {
  OpenShort();
  ASSERT_TRUE(Put(vpo, "[VideoPosition]\r\nStart=20\r\nEnd=10\r\n"));
  bar->RangesOpenFromFile();
  GoTo(15);
  const size_t first = delivered.size();
  bar->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return !mgr->isPlaying() && Quiet(); }));
  EXPECT_TRUE(Paused());
  EXPECT_GE(mgr->CurrentTime(), 20 * step);
  ASSERT_GT(delivered.size(), first);
  EXPECT_GE(*std::min_element(delivered.begin() + first, delivered.end()), 20);
}

TEST_F(MarksTest, NameRuleUsesTheLastDotOfTheFileName) {
  ASSERT_TRUE(QDir(dir).mkdir("clip.v2"));
  movie = CopyMovie(Recipe("30000/1001", 30), dir + "/clip.v2", "movie");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  bar->SetRange1(7 * step);
  ASSERT_TRUE(bar->RangesSaveToFile());
  EXPECT_TRUE(QFileInfo::exists(dir + "/clip.v2/movie.vpo"));
  EXPECT_FALSE(QFileInfo::exists(dir + "/clip.vpo"));
  EXPECT_EQ(Bytes(dir + "/clip.v2/movie.vpo"), kBom + "[VideoPosition]\r\nStart=0\r\nEnd=7\r\n\r\n");
}

// Runs f with writes of any file limited to 0 bytes, as on a full disk.
template <class F>
void WithFullDisk(F f) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit none = old;
  none.rlim_cur = 0;
  setrlimit(RLIMIT_FSIZE, &none);
  f();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
}

TEST_F(MarksTest, AWriteThatFailsReportsOnceAndChangesNothing) {
  OpenShort();
  const std::string before = kBom + "[VideoPosition]\r\nStart=2\r\nEnd=9\r\n\r\n";
  ASSERT_TRUE(Put(vpo, before));
  bar->RangesOpenFromFile();
  bar->SetRange0(4 * step);
  bar->SetRange1(8 * step);
  bool ok = true;
  WithFullDisk([&] { EXPECT_NO_THROW(ok = bar->RangesSaveToFile()); });
  EXPECT_FALSE(ok);
  ASSERT_EQ(messages.Texts().size(), 1);
  EXPECT_TRUE(messages.Texts()[0].contains(vpo)) << messages.Texts()[0].toStdString();
  EXPECT_EQ(Bytes(vpo), before);
  EXPECT_EQ(bar->Range0(), 4 * step);
  EXPECT_EQ(bar->Range1(), 8 * step);
  EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2);  // no temporary file left

  // A read-only folder (meaningless for root, who may write anyway).
  if (geteuid() != 0) {
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(bar->RangesSaveToFile());
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(messages.Texts().size(), 2);
    EXPECT_EQ(Bytes(vpo), before);
  }

  // A position file that cannot be read is not replaced (its other sections would be lost).
  ASSERT_TRUE(QFile::remove(vpo));
  ASSERT_TRUE(QDir(dir).mkdir(QFileInfo(vpo).fileName()));
  const int n = messages.Texts().size();
  EXPECT_FALSE(bar->RangesSaveToFile());
  ASSERT_EQ(messages.Texts().size(), n + 1);
  EXPECT_TRUE(messages.Texts().back().contains(vpo));
  EXPECT_TRUE(QFileInfo(vpo).isDir());
  bar->RangesOpenFromFile();  // reads as empty: the defaults
  EXPECT_EQ(bar->Range0(), 0u);
}

TEST_F(MarksTest, MovieDeletedWhileOpenIsNeitherReadNorWritten) {
  OpenShort();
  ASSERT_TRUE(Put(vpo, "[VideoPosition]\r\nStart=6\r\nEnd=9\r\n"));
  ASSERT_TRUE(QFile::remove(movie));
  bar->SetRange0(2 * step);
  bar->SetRange1(20 * step);
  bar->RangesOpenFromFile();
  EXPECT_EQ(bar->Range0(), 2 * step);
  EXPECT_EQ(bar->Range1(), 20 * step);
  EXPECT_FALSE(bar->RangesSaveToFile());
  EXPECT_EQ(Bytes(vpo), "[VideoPosition]\r\nStart=6\r\nEnd=9\r\n");
  EXPECT_TRUE(messages.Texts().isEmpty());
  // The lane itself goes on: steps and marks still work on what was open.
  GoTo(10);
  bar->TraFWardKeyExecute(Qt::ControlModifier);
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  EXPECT_EQ(Shown(), 11);
  bar->TraRange0KeyExecute();
  EXPECT_EQ(bar->Range0(), 11 * step);
}

} // namespace
