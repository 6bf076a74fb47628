#pragma once
#include <string>
#include <vector>
namespace clipgen {
// Picture layout: the top band of every picture holds the frame index (mod 65536) as 16 cells
// across the width, most significant bit on the left, light = 1 and dark = 0, and below them a
// second row of 16 cells with the complement of each bit. Cells are width/16 pixels wide and
// between 8 and 32 pixels high (the band is twice that); pictures narrower than 128 pixels or
// less than twice the band high carry no code. The rest of the picture is a colour gradient
// panning left by 2 pixels a frame, with fresh noise in every frame.
//
// Audio track t carries a sine tone of 440 + 220 * t Hz on every channel.
struct ClipSpec {
  int durationMs = 3000;
  int width = 320;
  int height = 240;
  int fpsNum = 25;  // frame rate fpsNum/fpsDen
  int fpsDen = 1;
  // A key frame every this many ms (GOP = round(ms*fps/1000), at least 1).
  int keyIntervalMs = 1000;
  int videoBitRate = 400000;  // bits per second
  int audioBitRate = 64000;
  int sampleRate = 44100;
  int channels = 2;
  bool video = true;
  int audioTracks = 1;  // 0 = no audio; 2 = two audio streams (different tone per track)
  std::string videoCodec = "wmv2";   // "wmv1", "wmv2" or "msmpeg4" (MPEG-4 v3, "MP43")
  std::string audioCodec = "wmav2";  // "wmav1" or "wmav2"
  // Sound stored this many ms ahead of the pictures of the same time, as an encoder with a buffer
  // window sends it; the header's preroll is then at least as long. 0 leaves the order to the
  // muxer's interleaving. Needs video and audio; each sound sample gets a data packet of its own.
  int audioLeadMs = 0;
  // Key frames exactly at these times (ms, each rounded to the nearest picture) and nowhere else;
  // the first picture is always one. Empty: a key frame every keyIntervalMs.
  std::vector<int> keyFramesMs;
  // Leaves the simple index out, as a broadcast recording or a cut clip has none; the header then
  // no longer calls the clip seekable.
  bool noIndex = false;
  // A broadcast header, as a live encoder writes it: no index (as noIndex), the play and send
  // durations and the data packet counts left at 0, and the broadcast flag set.
  bool broadcast = false;
  // Declares the streams as Windows Media encoders do: each stream's bit rate in a stream bit
  // rate properties object and in extended stream properties, which also give the frame rate,
  // buffer figures, language and stream name, and the clip's title, author, copyright and
  // description. Without it only the file properties carry a bit rate (the sum of the streams').
  bool encoderHeader = false;
  std::string title = "Test pattern";
  std::string author = "qmvgen";
  std::string copyright = "No rights reserved";
  std::string description = "Frame codes over a moving gradient";
  std::string language = "en-us";
  int bufferMs = 2000;  // the encoder's buffer window, as the extended stream properties give it
};
// Writes the clip to path (".wmv", ".qmv" or any name: always ASF). Returns false with a message in
// *error (when error is not null) on any failure, leaving no partial file behind.
bool Generate(const ClipSpec& params, const std::string& path, std::string* error);
// Frame index encoded in a decoded picture of a generated clip (see the picture layout), or -1 when
// no code can be read. Takes 32-bit BGRA/BGRX pixels, top row first.
int ReadFrameCode(const unsigned char* bgra, int width, int height, int stride);
}  // namespace clipgen
