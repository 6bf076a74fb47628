#include "StreamLayout.h"

#include "WmReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

std::optional<std::vector<StreamShape>> ReadStreamLayout(const std::string& path) {
  wm::Reader reader;
  if (reader.Open(path.c_str()) != S_OK) return std::nullopt;
  std::vector<StreamShape> layout;
  for (const wm::StreamInfo& s : reader.Streams()) {
    StreamShape shape;
    shape.kind = static_cast<int>(s.kind);
    shape.width = s.width;
    shape.height = s.height;
    shape.sampleRate = s.sampleRate;
    shape.channels = s.channels;
    if (const AVCodecParameters* c = s.codec) {
      shape.codecId = static_cast<int>(c->codec_id);
      shape.codecTag = c->codec_tag;
      shape.blockAlign = c->block_align;
      if (c->extradata != nullptr && c->extradata_size > 0)
        shape.extradata.assign(c->extradata, c->extradata + c->extradata_size);
    }
    layout.push_back(std::move(shape));
  }
  return layout;
}
