#include "WmWriter.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "AsfObjects.h"

namespace wm {

namespace {

HRESULT FromAv(int err) {
  if (err == AVERROR(ENOSPC) || err == AVERROR(EDQUOT)) return HResultFromErrno(ENOSPC);
  if (err < 0 && err > -4096) return HResultFromErrno(-err);  // AVERROR(errno)
  return NS_E_FILE_WRITE;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Gives the finished clip its name without ever replacing a file that appeared meanwhile.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Filesystems without the flag: a hard link fails when the name exists.
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

// Samples of one stream can follow samples of another only when a decoder set up for the second
// decodes them alike: same codec and picture or sound format, same codec private data.
bool SameStream(const AVCodecParameters& a, const AVCodecParameters& b) {
  if (a.codec_type != b.codec_type || a.codec_id != b.codec_id || a.codec_tag != b.codec_tag)
    return false;
  if (a.extradata_size != b.extradata_size ||
      (a.extradata_size > 0 && std::memcmp(a.extradata, b.extradata, a.extradata_size) != 0))
    return false;
  if (a.codec_type == AVMEDIA_TYPE_VIDEO) return a.width == b.width && a.height == b.height;
  if (a.codec_type == AVMEDIA_TYPE_AUDIO)
    return a.sample_rate == b.sample_rate && a.ch_layout.nb_channels == b.ch_layout.nb_channels &&
           a.block_align == b.block_align;
  return true;
}

// The muxer's output: the temporary file, shifted by the room kept for the header's growth.
struct Shifted {
  int fd;
  int64_t room;
};

int WriteShifted(void* opaque, uint8_t* buf, int size) {
  const Shifted* f = static_cast<const Shifted*>(opaque);
  for (int done = 0; done < size;) {
    const ssize_t n = write(f->fd, buf + done, static_cast<size_t>(size - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return AVERROR(errno);
    }
    if (n == 0) return AVERROR(EIO);
    done += static_cast<int>(n);
  }
  return size;
}

int64_t SeekShifted(void* opaque, int64_t offset, int whence) {
  const Shifted* f = static_cast<const Shifted*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st;
    if (fstat(f->fd, &st) != 0) return AVERROR(errno);
    return std::max<int64_t>(st.st_size - f->room, 0);
  }
  whence &= ~AVSEEK_FORCE;
  off_t at;
  if (whence == SEEK_SET)
    at = lseek(f->fd, offset + f->room, SEEK_SET);
  else if (whence == SEEK_CUR || whence == SEEK_END)
    at = lseek(f->fd, offset, whence);
  else
    return AVERROR(EINVAL);
  if (at < 0) return AVERROR(errno);
  return at - f->room;
}

bool ReadAt(int fd, uint8_t* to, size_t size, int64_t at) {
  while (size > 0) {
    const ssize_t n = pread(fd, to, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    to += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
}

bool WriteAt(int fd, const uint8_t* from, size_t size, int64_t at) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, from, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
}

constexpr int kIoBuffer = 256 * 1024;

}  // namespace

Writer::Writer() : pkt_(av_packet_alloc()) {}

Writer::~Writer() {
  Abort();
  ClearProfile();
  av_packet_free(&pkt_);
}

void Writer::ClearProfile() {
  for (Input& in : inputs_) avcodec_parameters_free(&in.codec);
  inputs_.clear();
  codecInfos_.clear();
  carry_.Clear();
}

HRESULT Writer::SetProfile(const Reader& reader) {
  if (IsWriting()) return E_UNEXPECTED;
  if (!reader.IsOpen()) return E_UNEXPECTED;
  ClearProfile();
  for (const StreamInfo& s : reader.Streams()) {
    if (s.kind == Kind::Other || s.codec == nullptr) continue;  // only audio and video are copied
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (par == nullptr || avcodec_parameters_copy(par, s.codec) < 0) {
      avcodec_parameters_free(&par);
      ClearProfile();
      return E_OUTOFMEMORY;
    }
    inputs_.push_back(Input{s.number, par, INT64_MIN});
  }
  std::vector<uint16_t> fileNumbers;
  for (const Input& in : inputs_) fileNumbers.push_back(reader.FindStream(in.number)->fileNumber);
  carry_.Collect(reader.Header(), fileNumbers);
  return S_OK;
}

HRESULT Writer::GetInputCount(uint32_t* count) const {
  if (count == nullptr) return E_INVALIDARG;
  *count = static_cast<uint32_t>(inputs_.size());
  return S_OK;
}

HRESULT Writer::SetInputProps(uint32_t input, const void* props) {
  if (input >= inputs_.size()) return E_INVALIDARG;
  return props == nullptr ? S_OK : E_INVALIDARG;
}

HRESULT Writer::AddCodecInfo(const CodecInfo& info) {
  if (IsWriting()) return E_UNEXPECTED;
  // The muxer writes the codec list of the streams it is given; the entries are kept to be
  // checked against them.
  codecInfos_.push_back(info);
  return S_OK;
}

HRESULT Writer::SetOutputFilename(const char* path) {
  if (IsWriting()) return E_UNEXPECTED;
  path_ = path == nullptr ? std::string() : std::string(path);
  return path_.empty() ? E_INVALIDARG : S_OK;
}

HRESULT Writer::Fail(HRESULT hr) {
  if (error_ == S_OK) error_ = hr;
  return hr;
}

HRESULT Writer::BeginWriting() {
  if (IsWriting()) return E_UNEXPECTED;
  error_ = S_OK;
  if (path_.empty() || inputs_.empty()) return E_UNEXPECTED;
  if (Exists(path_)) return NS_E_FILE_EXISTS;

  const size_t slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path_.substr(0, slash);
  // A short hidden name of its own, so that any name the folder takes for the clip works.
  std::string temp = dir + "/.vantrel-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return HResultFromErrno(errno);
  // mkstemp makes the file private; the finished clip gets the mode of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  fd_ = fd;
  tempPath_ = temp;

  const AVOutputFormat* asf = av_guess_format("asf", nullptr, nullptr);
  int r = avformat_alloc_output_context2(&ctx_, asf, nullptr, tempPath_.c_str());
  if (r < 0 || ctx_ == nullptr) {
    ctx_ = nullptr;
    Abort();
    return E_OUTOFMEMORY;
  }
  for (Input& in : inputs_) {
    AVStream* st = avformat_new_stream(ctx_, nullptr);
    if (st == nullptr || avcodec_parameters_copy(st->codecpar, in.codec) < 0) {
      Abort();
      return E_OUTOFMEMORY;
    }
    st->time_base = AVRational{1, 1000};
    in.lastDts = INT64_MIN;
  }
  HRESULT hr = OpenOutput();
  if (FAILED(hr)) {
    Abort();
    return hr;
  }
  if ((r = avformat_write_header(ctx_, nullptr)) < 0) {
    hr = FromAv(r);
    Abort();
    return hr;
  }
  return S_OK;
}

HRESULT Writer::WriteStreamSample(uint16_t streamNumber, int64_t time, int64_t /*sendTime*/,
                                  int64_t duration, uint32_t flags, const Sample& sample) {
  if (!IsWriting()) return E_UNEXPECTED;
  if (error_ != S_OK) return error_;
  size_t index = inputs_.size();
  for (size_t i = 0; i < inputs_.size(); ++i)
    if (inputs_[i].number == streamNumber) index = i;
  // A sample for a stream the profile lacks would land in a wrong stream: refuse it.
  if (index == inputs_.size() || sample.IsDecoded() || sample.Packet() == nullptr)
    return Fail(NS_E_INVALID_STREAM);
  Input& in = inputs_[index];
  const AVCodecParameters* from = sample.Codec();
  if (from == nullptr || !SameStream(*from, *in.codec)) return Fail(NS_E_INVALID_STREAM);
  if (time < 0) return Fail(E_INVALIDARG);
  if (sample.Packet()->size <= 0) return S_OK;  // nothing to write

  AVStream* st = ctx_->streams[index];
  if (av_packet_ref(pkt_, sample.Packet()) < 0) return Fail(E_OUTOFMEMORY);
  int64_t ts = av_rescale_q(time, AVRational{1, 10000000}, st->time_base);
  // Each stream's times must rise; a sample that would tie with the previous one (rounding at a
  // splice) moves on by one tick.
  if (in.lastDts != INT64_MIN && ts <= in.lastDts) ts = in.lastDts + 1;
  in.lastDts = ts;
  pkt_->pts = ts;
  pkt_->dts = ts;
  pkt_->duration = av_rescale_q(duration, AVRational{1, 10000000}, st->time_base);
  pkt_->stream_index = static_cast<int>(index);
  pkt_->flags = (flags & kSampleCleanPoint) ? AV_PKT_FLAG_KEY : 0;
  pkt_->pos = -1;
  int r = av_interleaved_write_frame(ctx_, pkt_);
  av_packet_unref(pkt_);
  if (r < 0) return Fail(FromAv(r));
  return S_OK;
}

HRESULT Writer::OpenOutput() {
  room_ = static_cast<int64_t>(carry_.Growth());
  if (lseek(fd_, room_, SEEK_SET) < 0) return HResultFromErrno(errno);
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kIoBuffer));
  Shifted* target = static_cast<Shifted*>(av_malloc(sizeof(Shifted)));
  if (buffer != nullptr && target != nullptr) {
    *target = Shifted{fd_, room_};
    ctx_->pb = avio_alloc_context(buffer, kIoBuffer, 1, target, nullptr, WriteShifted, SeekShifted);
    // The muxer marks the end of every data packet as a point to flush at; a full buffer at a
    // time costs one write for many packets.
    if (ctx_->pb != nullptr) ctx_->pb->min_packet_size = kIoBuffer;
  }
  if (ctx_->pb == nullptr) {
    av_free(buffer);
    av_free(target);
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Writer::CloseOutput() {
  if (ctx_ != nullptr && ctx_->pb != nullptr) {
    av_free(ctx_->pb->opaque);
    av_freep(&ctx_->pb->buffer);
    avio_context_free(&ctx_->pb);
  }
}

// Replaces the muxer's header, which lies behind the room, by the completed one that fills the
// room and the muxer's header together, so that the data follows it directly.
HRESULT Writer::CompleteHeader() {
  uint8_t head[24];
  if (!ReadAt(fd_, head, sizeof(head), room_)) return NS_E_FILE_WRITE;
  const uint64_t size = asf::Get(head + 16, 8);
  if (size < sizeof(head) || size > (64u << 20)) return NS_E_FILE_WRITE;
  std::vector<uint8_t> muxed(static_cast<size_t>(size));
  if (!ReadAt(fd_, muxed.data(), muxed.size(), room_)) return NS_E_FILE_WRITE;
  const std::vector<uint8_t> header = carry_.Apply(muxed);
  if (header.size() != muxed.size() + static_cast<size_t>(room_)) return NS_E_FILE_WRITE;
  if (!WriteAt(fd_, header.data(), header.size(), 0)) return HResultFromErrno(errno ? errno : EIO);
  return S_OK;
}

HRESULT Writer::EndWriting() {
  if (!IsWriting()) return E_UNEXPECTED;
  HRESULT hr = error_;
  if (hr == S_OK) {
    int r = av_write_trailer(ctx_);
    if (r < 0) hr = FromAv(r);
  }
  if (ctx_->pb != nullptr) {
    avio_flush(ctx_->pb);
    if (hr == S_OK && ctx_->pb->error < 0) hr = FromAv(ctx_->pb->error);
  }
  CloseOutput();
  avformat_free_context(ctx_);
  ctx_ = nullptr;
  if (hr == S_OK) hr = CompleteHeader();
  if (close(fd_) != 0 && hr == S_OK) hr = HResultFromErrno(errno);
  fd_ = -1;
  if (hr == S_OK) {
    int err = RenameNoReplace(tempPath_, path_);
    if (err != 0) hr = err == EEXIST ? NS_E_FILE_EXISTS : HResultFromErrno(err);
  }
  if (hr != S_OK) {
    unlink(tempPath_.c_str());
    Fail(hr);
  }
  tempPath_.clear();
  return hr;
}

HRESULT Writer::Flush() {
  return error_;
}

void Writer::Abort() {
  if (ctx_ != nullptr) {
    CloseOutput();
    avformat_free_context(ctx_);
    ctx_ = nullptr;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace wm
