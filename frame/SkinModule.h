// One window's load of the skin library. Functions are bound by name at each use; a missing
// library or function gives a null pointer and the caller leaves that feature out.
#pragma once

#include <QImage>
#include <QPixmap>
#include <functional>
#include <string>

#include "SkinApi.h"

class SkinModule {
 public:
  // Finds an export by name (null when missing); lets tests stand in a skin of their own.
  using Resolver = std::function<void*(const char* name)>;

  SkinModule() = default;
  ~SkinModule();
  SkinModule(const SkinModule&) = delete;
  SkinModule& operator=(const SkinModule&) = delete;

  // Loads folder + "/libSkin.so" (frees what was loaded before). False when it cannot be loaded.
  bool Load(const std::string& folder);
  // Loads from the program's install folder.
  bool LoadFromInstallFolder();
  // Uses the given lookup in place of a library.
  void SetResolver(Resolver resolver);
  // Unloads; from then on every function is missing.
  void Free();
  bool Loaded() const { return handle_ != nullptr || resolver_ != nullptr; }

  // The export `name` as type Fn, or null.
  template <typename Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }

  // Bitmap `id` of the module (a null image when the module or LoadSkinBitmap is missing or the
  // id is unknown). Each call gives a fresh copy.
  QImage Bitmap(int id) const;
  QPixmap Pixmap(int id) const { return QPixmap::fromImage(Bitmap(id)); }

 private:
  void* Symbol(const char* name) const;

  void* handle_ = nullptr;
  Resolver resolver_;
};
