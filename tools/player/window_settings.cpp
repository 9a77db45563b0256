#include "window_settings.h"

#include <stdio.h>

#include <utility>

#include "input.h"
#include "messages.h"
#include "quon_renderManager.h"

namespace player {

namespace {

std::string Size(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

void WindowEvents::OnFirstFrame(const std::string& id, int width, int height) {
  if (++first_frames == 1 && !quiet)
    Say(stderr, id + ": first frame on show (" + Size(width, height) + ")");
}

void WindowEvents::OnFrameSizeChanged(const std::string& id, int width, int height) {
  ++frame_size_changes;
  if (!quiet)
    Say(stderr, id + ": frames now " + Size(width, height));
}

void WindowEvents::OnSurfaceSizeChanged(const std::string& id, int width, int height) {
  ++surface_size_changes;
  if (!quiet)
    Say(stderr, id + ": window now " + Size(width, height));
}

WindowSettings::WindowSettings(std::string id, const Options& options, int input_rotation)
    : id_(std::move(id)),
      input_rotation_(input_rotation),
      scale_(options.scale),
      rotation_(options.rotation),
      mirror_(options.mirror) {
  events_.quiet = options.quiet;
}

WindowSettings::~WindowSettings() {
  std::string id = id_;
  PluginManager::GetInstance()->SetRenderEventListener(id, nullptr);
}

void WindowSettings::ApplyTo(int renderer, const engine::ColorDescription& color) {
  rtc::MutexLock lock(&mutex_);
  std::string id = id_;
  PluginManager* manager = PluginManager::GetInstance();
  const int scale = scale_.load();
  if (applied_to_ != renderer) {
    applied_to_ = renderer;
    applied_scale_ = 0;
    color_applied_ = false;
  }
  if (!color_applied_ || color != applied_color_) {
    TellColor(color);
    applied_color_ = color;
    color_applied_ = true;
  }
  if (applied_scale_ != scale) {
    manager->SetScaleType(id, scale);
    applied_scale_ = scale;
  }
  // The module keeps these for the id across its renderers: told only
  // when they change.
  const int rotation = DisplayRotation(input_rotation_, rotation_.load());
  if (applied_rotation_ != rotation && manager->SetRotation(id, rotation))
    applied_rotation_ = rotation;
  const bool mirror = mirror_.load();
  if (applied_mirror_ != mirror && manager->SetMirror(id, mirror))
    applied_mirror_ = mirror;
  if (!listening_)
    listening_ = manager->SetRenderEventListener(id, &events_);
}

// A module without BT.2020 refuses it: those frames are drawn by BT.709,
// the nearest it has, and that is said once. A refusal of both is no
// refusal of the matrix: the renderer is on its way out.
void WindowSettings::TellColor(const engine::ColorDescription& color) {
  PluginManager* manager = PluginManager::GetInstance();
  std::string id = id_;
  const int range = static_cast<int>(color.range);
  if (manager->SetColorDescription(id, range, static_cast<int>(color.matrix)) ||
      color.matrix != engine::ColorMatrix::kBt2020 ||
      !manager->SetColorDescription(id, range, static_cast<int>(engine::ColorMatrix::kBt709)))
    return;
  if (!said_2020_)
    Say(stderr, id_ + ": BT.2020 colours are drawn as BT.709: this module does not take BT.2020");
  said_2020_ = true;
}

}  // namespace player
