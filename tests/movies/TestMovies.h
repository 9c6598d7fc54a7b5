#pragma once
// Test movies made at test time with the `ffmpeg` program. Every video frame shows its own
// index (0-based, in presentation order) as 16 vertical bars, bar i bright when bit i is
// set, so a test can read back which frame a picture is, from any decoder, at any scale.
// Movies are made once into a cache folder ($SKM_TEST_MOVIE_CACHE, else a folder under
// the system's temporary folder) and reused by later runs.
//
// Threads: MakeTestMovie may be called from several test threads; each movie is written
// to a temporary name and renamed into place.

#include <cstdint>
#include <string>
#include <vector>

namespace skmtest {

// What to make.
struct TMovieRecipe {
  int width = 160;             // coded size
  int height = 90;
  std::string rate = "25";     // frame rate as ffmpeg reads it ("30000/1001")
  int frames = 50;             // number of video frames
  int gop = 12;                // keyframe interval
  int bframes = 2;             // B-frames between references
  bool video = true;           // with a video stream
  bool audio = true;           // with an AAC stereo stream of the same length
  std::string sar;             // sample aspect ratio ("2:1"), empty for square pixels
  int rotate = 0;              // display rotation metadata in degrees
  std::string container = "mp4";  // file extension / muxer
  std::string postFilter;      // filters after the bars ("scale=1920:1080:flags=neighbor")
  std::string preset = "veryfast";  // x264 preset
  int crf = 12;                // x264 quality (lower is better)
  std::string outputArgs;      // more output options ("-output_ts_offset 3")
  // Video encoder and its options, in place of x264 ("-c:v mpeg2video -q:v 2"); the
  // keyframe interval and B-frames are still passed.
  std::string videoCodec;
  std::string audioCodec;      // audio encoder and options, in place of AAC ("-c:a mp2")
  // When given, a second pass copies the streams into the final file with these options,
  // for what only a copy can set: packet timing through the setts bitstream filter.
  std::string remuxArgs;
};

// The ffmpeg muxer for a file extension ("mkv" -> "matroska"); the extension itself when
// ffmpeg names its muxer so.
std::string MuxerFor(const std::string& extension);

// The path of the movie for recipe, made with ffmpeg on first use; empty when ffmpeg fails
// (the message is printed).
std::string MakeTestMovie(const TMovieRecipe& recipe);

// remuxArgs that give the last packet (in decoding order) of a movie of frames frames a
// duration of ticks of the stream's time base: a long or short last frame.
std::string LastPacketLasts(int frames, int ticks);

// Movies whose average frame rate is not the rate their frames follow. A QuickTime movie
// whose last frame lasts a second, every other frame 25 ticks of 1/600 s (24 fps, average
// about 20); and an MP4 of frames 512 ticks of 1/15360 s from 0.033 s on, the last one a
// single tick long (30 fps, average above 30).
TMovieRecipe LongLastFrameQuickTime();
TMovieRecipe LateStartShortLastFrameMp4();

// The frame index a BGRA picture shows, or -1 when its bars are unreadable.
int ReadFrameIndex(const uint8_t* bgra, int width, int height, int stride);

// The index each frame shows, in the order the `ffmpeg` program decodes them (presentation
// order, edit lists applied); empty on failure.
std::vector<int> FfmpegFrameIndexes(const std::string& path);

// The byte contents of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

} // namespace skmtest
