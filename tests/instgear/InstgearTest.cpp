// The setup helper on prefixes, images, registry files and windows the tests make themselves.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "Instgear.h"
#include "PeImage.h"
#include "PeVersion.h"
#include "Prefix.h"
#include "TestDir.h"

namespace {

namespace fs = std::filesystem;
using instgear::FileVersion;
using testutil::TempDir;

// Sets an environment variable for the life of the object (unset when value is null).
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

struct Dll {
  bool pe32Plus;
  uint64_t version;
};

// A fresh prefix holding exactly `files` in its system directory: the version found and what
// the exported check answers for it.
struct Answer {
  uint32_t version;
  BOOL vmr;
};
Answer OnPrefix(const std::map<std::string, Dll>& files) {
  TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  fs::create_directories(instgear::SystemDirectory(prefix));
  for (const auto& [name, dll] : files)
    petest::WriteFile(instgear::SystemDirectory(prefix) / name,
                      petest::BuildPe(dll.pe32Plus, dll.version));
  EnvVar env("WINEPREFIX", prefix.c_str());
  return {instgear::DirectXVersion(instgear::SystemDirectory(instgear::WinePrefix())),
          GetVmrVer(0)};
}

TEST(InstgearVersion, TableRowsOnBuiltPrefixes) {
  const Dll ddraw7{false, FileVersion(4, 7, 0, 700)};
  const Dll ddrawXp{true, FileVersion(5, 3, 2600, 2180)};

  Answer a = OnPrefix({{"ddraw.dll", ddraw7}});
  EXPECT_EQ(a.version, 0x70000u);  // dinput.dll missing: 7.0, not 7.0a
  EXPECT_EQ(a.vmr, 0);
  EXPECT_EQ(
      OnPrefix({{"ddraw.dll", ddraw7}, {"dinput.dll", {false, FileVersion(4, 7, 0, 716)}}}).version,
      0x70001u);
  EXPECT_EQ(OnPrefix({{"DDRAW.DLL", ddraw7}}).version, 0x70000u);  // names match in any case

  a = OnPrefix({{"ddraw.dll", ddrawXp}, {"d3d9.dll", {true, FileVersion(5, 3, 2600, 2180)}}});
  EXPECT_EQ(a.version, 0x90000u);
  EXPECT_EQ(a.vmr, 1);
  EXPECT_EQ(OnPrefix({{"ddraw.dll", ddrawXp}}).version, 0x80000u);    // row 11 on major part 5
  EXPECT_EQ(OnPrefix({{"d3d9.dll", {false, 0}}}).version, 0x90000u);  // any readable version

  // Rows compared by major part: 6 passes none of them, 4 and 5 each have their own minimum.
  EXPECT_EQ(OnPrefix({{"ddraw.dll", {false, FileVersion(6, 0, 0, 0)}}}).version, 0x70000u);
  EXPECT_EQ(
      OnPrefix({{"ddraw.dll", ddrawXp}, {"d3d8.dll", {false, FileVersion(4, 8, 1, 881)}}}).version,
      0x80100u);
  EXPECT_EQ(OnPrefix({{"ddraw.dll", ddrawXp}, {"d3d8.dll", {false, FileVersion(5, 1, 2600, 900)}}})
                .version,
            0x80100u);
  EXPECT_EQ(OnPrefix({{"ddraw.dll", ddrawXp},
                      {"d3d8.dll", {false, FileVersion(5, 1, 2600, 901)}},
                      {"mpg2splt.ax", {false, FileVersion(6, 3, 1, 885)}}})
                .version,
            0x80102u);
  EXPECT_EQ(OnPrefix({{"ddraw.dll", ddrawXp}, {"dpnet.dll", {false, FileVersion(5, 2, 3677, 133)}}})
                .version,
            0x80000u);

  // A d3d9.dll that is no image, and a prefix that does not exist, give no DirectX at all.
  TempDir dir;
  const fs::path junk = instgear::SystemDirectory(dir.Path()) / "d3d9.dll";
  petest::WriteFile(junk, {'M', 'Z', 0, 0});
  EXPECT_EQ(instgear::DirectXVersion(junk.parent_path()), 0u);
  EnvVar env("WINEPREFIX", (dir.Path() / "missing").c_str());
  EXPECT_EQ(GetVmrVer(0), 0);
}

TEST(InstgearVersion, DirectXLineOnTheDebuggerOutput) {
  TempDir dir;
  petest::WriteFile(instgear::SystemDirectory(dir.Path()) / "ddraw.dll",
                    petest::BuildPe(false, FileVersion(4, 6, 0, 436)));
  EnvVar prefix("WINEPREFIX", dir.Path().c_str());
  {
    EnvVar debug("VANTREL_DEBUG", "1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetVmrVer(123), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DirectX Version=0x00060100\n");
  }
  EnvVar quiet("VANTREL_DEBUG", nullptr);
  testing::internal::CaptureStderr();
  GetVmrVer(0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

std::optional<uint64_t> Read(const std::vector<uint8_t>& bytes) {
  return instgear::FixedFileVersion(std::span<const uint8_t>(bytes));
}

TEST(InstgearPeReader, TruncatedAndHostileImages) {
  for (bool plus : {false, true}) {
    petest::Layout l;
    const std::vector<uint8_t> good = petest::BuildPe(plus, FileVersion(5, 3, 2600, 2180), &l);
    ASSERT_EQ(Read(good), FileVersion(5, 3, 2600, 2180));
    // The version ends the file, so every shorter file lacks some of it.
    for (size_t n = 0; n < good.size(); ++n)
      ASSERT_FALSE(Read(std::vector<uint8_t>(good.begin(), good.begin() + n))) << n;

    auto patched = [&](size_t at, uint32_t value, size_t width = 4) {
      std::vector<uint8_t> b = good;
      std::memcpy(b.data() + at, &value, width);
      return Read(b);
    };
    EXPECT_FALSE(patched(0x3C, 0xFFFFFFF0u));                           // PE header far outside
    EXPECT_FALSE(patched(l.peHeader + 6, 0xFFFF, 2));                   // more sections than bytes
    EXPECT_FALSE(patched(l.peHeader + 20, 0xFFFF, 2));                  // optional header too long
    EXPECT_FALSE(patched(l.optionalHeader + (plus ? 108 : 92), 2));     // no resource directory
    EXPECT_FALSE(patched(l.resource + 14, 0xFFFF, 2));                  // entries past the section
    EXPECT_FALSE(patched(l.resource + 20, 0x80000000u));                // type level loops to root
    EXPECT_FALSE(patched(l.resource + 0x30 + 20, 0x80000000u | 0x30));  // no data entry below
    EXPECT_FALSE(patched(l.resource + l.dataEntry, 0xFFFFFFF0u));      // data outside every section
    EXPECT_FALSE(patched(l.resource + l.dataEntry + 4, 0xFFFFFFFFu));  // data longer than file
    EXPECT_FALSE(patched(l.versionBlock, 60, 2));      // block shorter than its value
    EXPECT_FALSE(patched(l.versionBlock + 2, 10, 2));  // value too short for the info
    EXPECT_FALSE(patched(l.fixedInfo, 0x12345678u));   // not fixed file information
    std::vector<uint8_t> endless = good;               // key without terminator
    for (size_t i = l.versionBlock + 6; i < l.fixedInfo + 52; i += 2) endless[i] = 'A';
    EXPECT_FALSE(Read(endless));

    // Every byte spoiled in turn: some answer or none, never a read outside (checked by ASan).
    for (size_t i = 0; i < good.size(); ++i)
      for (uint8_t v : {0x00, 0x7F, 0x80, 0xFF}) {
        std::vector<uint8_t> b = good;
        b[i] = v;
        (void)Read(b);
      }
  }

  // From files: a cut one and one that is not a regular file.
  TempDir dir;
  const std::vector<uint8_t> good = petest::BuildPe(true, FileVersion(1, 2, 3, 4));
  petest::WriteFile(dir.Path() / "whole.dll", good);
  petest::WriteFile(dir.Path() / "cut.dll", std::vector<uint8_t>(good.begin(), good.end() - 1));
  EXPECT_EQ(instgear::ReadFileVersion(dir.Path() / "whole.dll"), FileVersion(1, 2, 3, 4));
  EXPECT_FALSE(instgear::ReadFileVersion(dir.Path() / "cut.dll"));
  EXPECT_FALSE(instgear::ReadFileVersion(dir.Path()));
}

TEST(InstgearPeReader, WineDllsAsRealImages) {
  fs::path wine;
  for (const char* dir :
       {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows"})
    if (fs::exists(fs::path(dir) / "d3d9.dll")) wine = dir;
  if (wine.empty())
    GTEST_SKIP() << "Debian's wine64 package is not installed (no x86_64-windows/d3d9.dll)";
  for (const char* name : {"ddraw.dll", "d3d9.dll", "kernel32.dll"}) {
    const std::optional<uint64_t> v = instgear::ReadFileVersion(wine / name);
    ASSERT_TRUE(v) << name;
    EXPECT_NE(instgear::MajorPart(*v), 0) << name;
  }
  // Every image of the package at least passes through the reader without harm.
  int read = 0;
  for (const auto& entry : fs::directory_iterator(wine))
    if (instgear::ReadFileVersion(entry.path())) ++read;
  EXPECT_GT(read, 100);

  TempDir dir;
  const fs::path sys = instgear::SystemDirectory(dir.Path());
  fs::create_directories(sys);
  for (const char* name : {"ddraw.dll", "d3d9.dll"}) fs::copy_file(wine / name, sys / name);
  EXPECT_EQ(instgear::DirectXVersion(sys), 0x90000u);
}

void WriteRegistry(const fs::path& prefix, const std::string& text) {
  fs::create_directories(prefix);
  std::ofstream(prefix / "system.reg", std::ios::binary) << text;
}

TEST(InstgearRegistry, AcrobatReaderKey) {
  TempDir dir;
  const fs::path prefix = dir.Path() / "prefix";
  EnvVar env("WINEPREFIX", prefix.c_str());
  EXPECT_EQ(ARInstalled(), 0);  // no prefix at all

  const std::string head =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Adobe\\\\Acrobat Reader DC] 1600000000\n#time=1d6\n\"a\"=\"b\"\n\n"
      "[Software\\\\Adobe\\\\Acrobat] 1600000000\n\"c\"=dword:00000001\n\n";
  WriteRegistry(prefix, head);
  EXPECT_EQ(ARInstalled(), 0);  // a sibling of similar name and the parent are not the key

  const std::string section =
      "[SOFTWARE\\\\adobe\\\\Acrobat Reader\\\\11.0\\\\Installer] 1600000001";
  const std::string full = head + section + "\n#time=1d7\n\"Path\"=\"C:\\\\Program Files\"\n";
  WriteRegistry(prefix, full);
  EXPECT_EQ(ARInstalled(), 1);  // listed through a key below it, in another case

  WriteRegistry(prefix, head + "[Software\\\\Wow6432Node\\\\Adobe\\\\Acrobat Reader] 1\n");
  EXPECT_EQ(ARInstalled(), 1);

  // Cut anywhere: the key counts once its section line is there up to the closing bracket.
  const size_t closes = head.size() + section.find(']');
  for (size_t n = 0; n < full.size(); ++n) {
    WriteRegistry(prefix, full.substr(0, n));
    ASSERT_EQ(ARInstalled(), n > closes ? 1 : 0) << n;
  }
  WriteRegistry(prefix, section + "\n");  // no registry header: not a registry file
  EXPECT_EQ(ARInstalled(), 0);
}

TEST(InstgearExports, BoundByNameAndNoDisplay) {
  void* lib = dlopen("libInstgear.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto killApp = reinterpret_cast<PFN_KillApp>(dlsym(lib, "KillApp"));
  auto killHost = reinterpret_cast<PFN_KillHost>(dlsym(lib, "KillHost"));
  EXPECT_NE(dlsym(lib, "GetVmrVer"), nullptr);
  EXPECT_NE(dlsym(lib, "ARInstalled"), nullptr);
  ASSERT_TRUE(killApp && killHost);
  {
    EnvVar display("DISPLAY", ":987");
    EXPECT_EQ(killApp("host"), 0);
    EXPECT_EQ(killHost(), 0);
  }
  EnvVar none("DISPLAY", nullptr);
  EXPECT_EQ(killApp("host"), 0);
  dlclose(lib);
}

// Windows made by the test's own connection; a client message sent with no event mask comes
// back to this connection, the windows' creator.
class TestWindows {
 public:
  TestWindows() : c_(xcb_connect(nullptr, nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    protocols_ = Atom("WM_PROTOCOLS");
    delete_ = Atom("WM_DELETE_WINDOW");
  }
  ~TestWindows() { xcb_disconnect(c_); }

  xcb_atom_t Atom(const char* name) {
    auto* r = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r->atom;
    std::free(r);
    return a;
  }
  void Text(xcb_window_t w, const char* prop, const char* type, const std::string& value) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, Atom(prop), Atom(type), 8,
                        static_cast<uint32_t>(value.size()), value.data());
  }
  xcb_window_t Make(xcb_window_t parent, bool takesDelete) {
    const xcb_window_t w = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 64, 48, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
    if (takesDelete)
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, protocols_, XCB_ATOM_ATOM, 32, 1, &delete_);
    xcb_map_window(c_, w);
    return w;
  }
  xcb_window_t Root() const { return screen_->root; }
  // WM_STATE NormalState, as a window manager marks the clients it manages.
  void Managed(xcb_window_t w) {
    const uint32_t state[2] = {1, XCB_NONE};
    const xcb_atom_t type = Atom("WM_STATE");
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, type, type, 32, 2, state);
  }
  void Destroy(xcb_window_t w) {
    xcb_destroy_window(c_, w);
    Sync();
  }
  void Sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

  // Windows that were asked to close since the last call, once the server has passed on all it
  // was given (a round trip after the sender's own).
  std::vector<xcb_window_t> CloseRequests() {
    Sync();
    std::vector<xcb_window_t> asked;
    while (xcb_generic_event_t* ev = xcb_poll_for_event(c_)) {
      if ((ev->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
        auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
        if (cm->type == protocols_ && cm->data.data32[0] == delete_) asked.push_back(cm->window);
      }
      std::free(ev);
    }
    return asked;
  }

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_;
  xcb_atom_t protocols_, delete_;
};

TEST(InstgearX11, ClosesWindowsByExactTitle) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display (runs under xvfb-run)";
  TestWindows x;
  const xcb_window_t probe = x.Make(x.Root(), true);
  x.Text(probe, "_NET_WM_NAME", "UTF8_STRING", "Vantrel Setup Prøbe");
  x.Text(probe, "WM_NAME", "STRING", "Probe Fallback");
  const xcb_window_t stubborn = x.Make(x.Root(), false);
  x.Text(stubborn, "WM_NAME", "STRING", "Vantrel Setup Stubborn");
  // A client inside a window manager's frame, found below the untitled frame.
  const xcb_window_t frame = x.Make(x.Root(), false);
  const xcb_window_t host = x.Make(frame, true);
  x.Text(host, "WM_NAME", "STRING", "host");
  x.Managed(host);
  ASSERT_TRUE(x.CloseRequests().empty());

  EXPECT_EQ(KillApp("No Window Has This Title"), 0);
  EXPECT_EQ(KillApp("Vantrel Setup"), 0);           // a prefix of titles is no title
  EXPECT_EQ(KillApp("Probe Fallback"), 0);          // WM_NAME counts only without _NET_WM_NAME
  EXPECT_EQ(KillApp("Vantrel Setup Stubborn"), 0);  // found, but it takes no close request
  EXPECT_EQ(KillApp(nullptr), 0);
  EXPECT_TRUE(x.CloseRequests().empty());

  EXPECT_EQ(KillApp("Vantrel Setup Prøbe"), 1);
  EXPECT_EQ(x.CloseRequests(), std::vector<xcb_window_t>{probe});
  x.Destroy(probe);  // what the program does on the request
  EXPECT_EQ(KillApp("Vantrel Setup Prøbe"), 0);

  EXPECT_EQ(KillHost(), 1);
  EXPECT_EQ(x.CloseRequests(), std::vector<xcb_window_t>{host});
  x.Destroy(frame);
  EXPECT_EQ(KillHost(), 0);
  EXPECT_TRUE(x.CloseRequests().empty());
  x.Destroy(stubborn);
}

}  // namespace
