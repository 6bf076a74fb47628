// What a new clip's header declares of its streams, read back byte for byte against its
// source's header: the writer copies a generated encoder clip, stream by stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "AsfObjects.h"
#include "HeaderCarry.h"
#include "MediaProbe.h"
#include "TestDir.h"
#include "WmReader.h"
#include "WmWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testutil::MakeClip;
using testutil::TempDir;

Bytes HeaderOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 24) return {};
  bytes.resize(static_cast<size_t>(asf::Get(bytes.data() + 16, 8)));
  return bytes;
}

// The objects of a header (and of its extension) with that GUID, whole.
std::vector<Bytes> Find(const Bytes& header, const asf::Guid& guid) {
  std::vector<Bytes> found;
  const auto layout = asf::ReadLayout(header);
  if (!layout) return found;
  for (const auto* list : {&layout->objects, &layout->extensionObjects})
    for (const asf::Object& o : *list)
      if (asf::Is(header.data() + o.at, guid))
        found.emplace_back(header.begin() + static_cast<ptrdiff_t>(o.at),
                           header.begin() + static_cast<ptrdiff_t>(o.at + o.size));
  return found;
}

// Copies every sample of src into out, as the engine's range copy does.
void Copy(const std::string& src, const std::string& out) {
  wm::Reader reader;
  ASSERT_EQ(reader.Open(src.c_str()), S_OK);
  for (const wm::StreamInfo& s : reader.Streams())
    ASSERT_EQ(reader.SetReadStreamSamples(s.number, true), S_OK);
  wm::Writer writer;
  ASSERT_EQ(writer.SetProfile(reader), S_OK);
  ASSERT_EQ(writer.SetOutputFilename(out.c_str()), S_OK);
  ASSERT_EQ(writer.BeginWriting(), S_OK);
  ASSERT_EQ(reader.SetRange(0, 0), S_OK);
  wm::Sample sample;
  while (reader.GetNextSample(0, &sample) == S_OK)
    ASSERT_EQ(writer.WriteStreamSample(sample.streamNumber, sample.time, 0, sample.duration,
                                       sample.flags, sample),
              S_OK);
  ASSERT_EQ(writer.EndWriting(), S_OK);
}

clipgen::ClipSpec EncoderClip() {
  clipgen::ClipSpec s;
  s.durationMs = 1500;
  s.width = 160;
  s.height = 120;
  s.videoBitRate = 100000;
  s.audioTracks = 2;
  s.encoderHeader = true;
  return s;
}

TEST(HeaderCarry, TheCopyDeclaresWhatItsSourceDeclares) {
  TempDir dir;
  const std::string src = MakeClip(dir, "enc.wmv", EncoderClip());
  const std::string out = dir.File("copy.wmv");
  Copy(src, out);
  const Bytes a = HeaderOf(src);
  const Bytes b = HeaderOf(out);
  ASSERT_TRUE(asf::ReadLayout(b)) << "the new header's objects do not add up";

  for (const asf::Guid& g : {asf::kStreamBitrateProperties, asf::kLanguageList}) {
    ASSERT_EQ(Find(a, g).size(), 1u);
    EXPECT_EQ(Find(b, g), Find(a, g));
  }
  // What describes the content is no part of the stream profile and stays behind.
  ASSERT_EQ(Find(a, asf::kContentDescription).size(), 1u);
  EXPECT_TRUE(Find(b, asf::kContentDescription).empty());
  const auto ext = Find(a, asf::kExtendedStreamProperties);
  const auto copied = Find(b, asf::kExtendedStreamProperties);
  ASSERT_EQ(ext.size(), 3u);
  ASSERT_EQ(copied.size(), 3u);
  for (size_t i = 0; i < ext.size(); ++i) {
    // Bit rates, buffers, largest sample, flags, number, language, frame time, names.
    EXPECT_TRUE(std::equal(ext[i].begin() + asf::kExtDataBitrateAt, ext[i].end(),
                           copied[i].begin() + asf::kExtDataBitrateAt, copied[i].end()))
        << "stream " << i + 1;
  }
  const auto fileA = Find(a, asf::kFileProperties), fileB = Find(b, asf::kFileProperties);
  EXPECT_EQ(asf::Get(fileB[0].data() + asf::kMaxBitrateAt, 4),
            asf::Get(fileA[0].data() + asf::kMaxBitrateAt, 4));
  EXPECT_EQ(asf::Get(fileB[0].data() + asf::kFileSizeAt, 8), std::filesystem::file_size(out));
  EXPECT_EQ(asf::Get(b.data() + asf::kHeaderCountAt, 4), asf::ReadLayout(b)->objects.size());

  // The data behind the grown header reads and decodes as the source's.
  const probe::DecodeResult decoded = probe::DecodeAll(out);
  EXPECT_EQ(decoded.errors, 0);
  EXPECT_EQ(decoded.videoFrames, probe::DecodeAll(src).videoFrames);
  EXPECT_TRUE(probe::HasSimpleIndex(out));
  const probe::Clip clip = probe::ReadClip(out);
  EXPECT_EQ(clip.bitRates, probe::ReadClip(src).bitRates);
  EXPECT_EQ(clip.languages, (std::vector<std::string>(3, "eng")));
  EXPECT_EQ(clip.title, "");

  // A clip that declares nothing more than the muxer writes gets the muxer's header as it is.
  clipgen::ClipSpec plain = EncoderClip();
  plain.encoderHeader = false;
  const std::string bare = MakeClip(dir, "bare.wmv", plain);
  Copy(bare, dir.File("bare-copy.wmv"));
  const Bytes copiedBare = HeaderOf(dir.File("bare-copy.wmv"));
  ASSERT_TRUE(asf::ReadLayout(copiedBare));
  EXPECT_TRUE(Find(copiedBare, asf::kStreamBitrateProperties).empty());
  EXPECT_TRUE(Find(copiedBare, asf::kExtendedStreamProperties).empty());
  EXPECT_EQ(asf::Get(Find(copiedBare, asf::kFileProperties)[0].data() + asf::kFileSizeAt, 8),
            std::filesystem::file_size(dir.File("bare-copy.wmv")));
}

TEST(HeaderCarry, KeepsTheCopiedStreamsUnderTheirNewNumbersOrPadsAHeaderItCannotRead) {
  TempDir dir;
  const Bytes source = HeaderOf(MakeClip(dir, "enc.wmv", EncoderClip()));
  clipgen::ClipSpec audio = EncoderClip();
  audio.encoderHeader = false;
  audio.video = false;
  audio.audioTracks = 1;
  const Bytes muxed = HeaderOf(MakeClip(dir, "audio.wmv", audio));

  // Only the source's second sound track (its stream 3) is copied, as stream 1.
  wm::HeaderCarry carry;
  carry.Collect(source, {3});
  const Bytes header = carry.Apply(muxed);
  ASSERT_EQ(header.size(), muxed.size() + carry.Growth());
  const auto bitrates = Find(header, asf::kStreamBitrateProperties);
  ASSERT_EQ(bitrates.size(), 1u);
  EXPECT_EQ(asf::Get(bitrates[0].data() + asf::kObjectHead, 2), 1u);
  EXPECT_EQ(asf::Get(bitrates[0].data() + asf::kObjectHead + 2, 2) & 0x7F, 1u);
  const auto ext = Find(header, asf::kExtendedStreamProperties);
  ASSERT_EQ(ext.size(), 1u);
  EXPECT_EQ(asf::Get(ext[0].data() + asf::kExtStreamNumberAt, 2), 1u);
  const Bytes name = asf::Utf16("Audio 2");
  EXPECT_TRUE(std::equal(name.begin(), name.end(), ext[0].end() - name.size()));

  // A muxer's header whose objects do not add up keeps them, and the room becomes padding.
  Bytes broken = muxed;
  asf::Set(broken.data() + asf::kHeaderHead + 16, 7, 8);
  const Bytes padded = carry.Apply(broken);
  ASSERT_EQ(padded.size(), broken.size() + carry.Growth());
  EXPECT_TRUE(asf::Is(padded.data() + broken.size(), asf::kPadding));
  EXPECT_EQ(asf::Get(padded.data() + 16, 8), padded.size());
  EXPECT_EQ(asf::Get(padded.data() + asf::kHeaderHead + asf::kFileSizeAt, 8),
            asf::Get(muxed.data() + asf::kHeaderHead + asf::kFileSizeAt, 8) + carry.Growth());
}

}  // namespace
