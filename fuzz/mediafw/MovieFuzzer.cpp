// Feeds arbitrary bytes to the movie reader as a file: probe, open the video half, show
// the first frame and one in the middle. Pictures above a megapixel are skipped so runs
// stay fast; the size checks themselves are exercised by the probe.
#include "platform/mediafw/MediaFoundationPrivate.h"
#include "platform/mediafw/VideoEngine.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace skm::mf;
using namespace skm::mf::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  char path[] = "/tmp/skm-movie-fuzz-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
  close(fd);
  if (written) {
    auto info = std::make_shared<TMovieInfo>();
    std::string message;
    if (Succeeded(ProbeMovie(path, *info, message)) && info->videoIndex >= 0 &&
        int64_t(info->displayWidth) * info->displayHeight <= (1 << 20)) {
      std::atomic<bool> abort{false};
      TVideoEngine engine(info, 16u << 20, 1, &abort);
      if (Succeeded(engine.Open(message))) {
        std::shared_ptr<const VideoFrame> frame;
        engine.Ensure(engine.DecisionTime(0), nullptr);
        engine.GetImage(engine.DecisionTime(0), frame);
        const int64_t middle = static_cast<int64_t>(info->durationHns / 2);
        engine.Ensure(engine.DecisionTime(middle), nullptr);
        engine.GetImage(engine.DecisionTime(middle), frame);
        if (frame && frame->pixels) {
          // Touch the last byte of the picture: a wrong stride or size shows here.
          volatile uint8_t last =
              frame->pixels[size_t(frame->height - 1) * frame->stride + size_t(frame->width) * 4 - 1];
          (void)last;
        }
      }
    }
  }
  unlink(path);
  return 0;
}
