// Independent check of a recorded DV tape file, straight on libavformat/libavcodec: the stream's
// format, its length, its pictures against the clip scaled the same way (letter-boxed on a 4:3
// frame), and whether its sound is silent.
#pragma once

#include <cstdint>
#include <string>

namespace dvcheck {

struct Report {
  bool opened = false;
  std::string videoCodec;  // "dvvideo"
  int width = 0;
  int height = 0;
  int fpsNum = 0;
  int fpsDen = 1;
  std::string audioCodec;  // "pcm_s16le"
  int sampleRate = 0;
  int channels = 0;
  int videoFrames = 0;
  int64_t audioSamples = 0;
  double videoSeconds = 0;
  double audioSeconds = 0;
  int64_t fileBytes = 0;
  bool wholeFrames = false;  // the file is a whole number of DV frames
  int decodeErrors = 0;
  // Pictures against the clip (only when a clip is given).
  int comparedFrames = 0;
  double meanPsnr = 0;  // luma, inside the picture, dB
  double minPsnr = 0;
  // Level of the whole sound track, dB below full scale (-200 for digital silence).
  double soundDb = -200;

  bool IsPal() const { return width == 720 && height == 576 && fpsNum == 25 && fpsDen == 1; }
  bool IsNtsc() const { return width == 720 && height == 480 && fpsNum == 30000 && fpsDen == 1001; }
  // Format and sound: dvvideo PAL or NTSC with 48 kHz 16-bit stereo PCM.
  bool IsDv() const;
  std::string Describe() const;
};

// Reads `tape` (raw DV). With `clip`, compares every picture with the clip's picture of the same
// index, scaled as a DV recording scales it.
Report Check(const std::string& tape, const std::string& clip = "");

}  // namespace dvcheck
