#include "SkinModule.h"

#include <dlfcn.h>

#include "ClipFile.h"

SkinModule::~SkinModule() {
  Free();
}

bool SkinModule::Load(const std::string& folder) {
  Free();
  handle_ = dlopen((folder + kSkinLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
  return handle_ != nullptr;
}

bool SkinModule::LoadFromInstallFolder() {
  return Load(InstallFolder());
}

void SkinModule::SetResolver(Resolver resolver) {
  Free();
  resolver_ = std::move(resolver);
}

void SkinModule::Free() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  resolver_ = nullptr;
}

void* SkinModule::Symbol(const char* name) const {
  if (resolver_) return resolver_(name);
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

QImage SkinModule::Bitmap(int id) const {
  QImage image;
  auto load = Get<LoadSkinBitmapFn>(kLoadSkinBitmap);
  // The pixels belong to Qt, so the copy outlives the module.
  if (load == nullptr || id == 0 || load(id, &image) == 0) return {};
  return image;
}
