// qmvgen: writes a deterministic Windows Media test clip (ASF with WMV video and WMA audio).

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ClipGen.h"

namespace {

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: qmvgen [options] OUTPUT\n"
      "Writes a test clip in the ASF container (any file name, e.g. .wmv or .qmv).\n"
      "\n"
      "  --duration MS      clip length in milliseconds (3000)\n"
      "  --size WxH         picture size (320x240)\n"
      "  --fps N[/D]        frame rate (25)\n"
      "  --keyint MS        key frame interval in milliseconds (1000)\n"
      "  --vbitrate BPS     video bit rate (400000)\n"
      "  --abitrate BPS     audio bit rate per track (64000)\n"
      "  --rate HZ          audio sample rate (44100)\n"
      "  --channels N       audio channels (2)\n"
      "  --no-video         audio only\n"
      "  --no-audio         video only\n"
      "  --audio-tracks N   number of audio streams (1)\n"
      "  --vcodec NAME      wmv1, wmv2 or msmpeg4 (wmv2)\n"
      "  --acodec NAME      wmav1 or wmav2 (wmav2)\n"
      "  --audio-lead MS    store the sound this far ahead of the pictures, as an encoder\n"
      "                     with a buffer window does (0: interleaved by time)\n"
      "  --keys MS,MS,...   key frames exactly at these times and nowhere else\n"
      "                     (the first picture always is one)\n"
      "  --no-index         leave the index out, as a broadcast recording has none\n"
      "  --broadcast        a live encoder's header: no index, no play duration, no packet\n"
      "                     count, the broadcast flag set\n"
      "  --encoder-header   declare the streams as Windows Media encoders do: each stream's\n"
      "                     bit rate, frame rate, buffer, language and name, and the clip's\n"
      "                     title, author, copyright and description\n"
      "  --help             show this text\n"
      "\n"
      "Each picture carries its frame number as a 16-bit code in the top band.\n",
      to);
}

bool ParseInt(std::string_view text, int* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

// Parses "A<sep>B", or just "A" when the second part is optional (B is then left as it is).
bool ParsePair(std::string_view text, char sep, bool secondOptional, int* a, int* b) {
  const size_t at = text.find(sep);
  if (at == std::string_view::npos) return secondOptional && ParseInt(text, a);
  return ParseInt(text.substr(0, at), a) && ParseInt(text.substr(at + 1), b);
}

// Parses "A,B,C" (at least one number).
bool ParseList(std::string_view text, std::vector<int>* values) {
  values->clear();
  for (;;) {
    const size_t at = text.find(',');
    int v = 0;
    if (!ParseInt(text.substr(0, at), &v)) return false;
    values->push_back(v);
    if (at == std::string_view::npos) return true;
    text.remove_prefix(at + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  clipgen::ClipSpec params;
  std::string output;
  bool noAudio = false;

  auto bad = [](const std::string& message) {
    std::fprintf(stderr, "qmvgen: %s (see --help)\n", message.c_str());
    return 1;
  };

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    }
    if (arg == "--no-video") {
      params.video = false;
      continue;
    }
    if (arg == "--no-audio") {
      noAudio = true;
      continue;
    }
    if (arg == "--no-index") {
      params.noIndex = true;
      continue;
    }
    if (arg == "--broadcast") {
      params.broadcast = true;
      continue;
    }
    if (arg == "--encoder-header") {
      params.encoderHeader = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (i + 1 >= argc) return bad("option " + std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      bool ok = true;
      if (arg == "--duration") {
        ok = ParseInt(value, &params.durationMs);
      } else if (arg == "--size") {
        ok = ParsePair(value, 'x', false, &params.width, &params.height);
      } else if (arg == "--fps") {
        params.fpsDen = 1;
        ok = ParsePair(value, '/', true, &params.fpsNum, &params.fpsDen);
      } else if (arg == "--keyint") {
        ok = ParseInt(value, &params.keyIntervalMs);
      } else if (arg == "--vbitrate") {
        ok = ParseInt(value, &params.videoBitRate);
      } else if (arg == "--abitrate") {
        ok = ParseInt(value, &params.audioBitRate);
      } else if (arg == "--rate") {
        ok = ParseInt(value, &params.sampleRate);
      } else if (arg == "--channels") {
        ok = ParseInt(value, &params.channels);
      } else if (arg == "--audio-tracks") {
        ok = ParseInt(value, &params.audioTracks);
      } else if (arg == "--audio-lead") {
        ok = ParseInt(value, &params.audioLeadMs);
      } else if (arg == "--keys") {
        ok = ParseList(value, &params.keyFramesMs);
      } else if (arg == "--vcodec") {
        params.videoCodec = value;
      } else if (arg == "--acodec") {
        params.audioCodec = value;
      } else {
        return bad("unknown option " + std::string(arg));
      }
      if (!ok) return bad("bad value '" + std::string(value) + "' for " + std::string(arg));
      continue;
    }
    if (!output.empty()) return bad("more than one output file given");
    output = arg;
  }
  if (output.empty()) return bad("no output file given");
  if (noAudio) params.audioTracks = 0;

  std::string error;
  if (!clipgen::Generate(params, output, &error)) {
    std::fprintf(stderr, "qmvgen: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
