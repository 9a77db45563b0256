#ifndef TESTS_SUPPORT_EGLCORE_PEER_H_
#define TESTS_SUPPORT_EGLCORE_PEER_H_

#include "quon_eglcore.h"

// Read-only access to a drawing core's private state, for tests:
// Peek(core).program(). EGLCore names this class its friend.
class EGLCoreTestPeer {
 public:
  explicit EGLCoreTestPeer(const EGLCore& core) : core_(core) {}

  int32_t width() const { return core_.width; }
  int32_t height() const { return core_.height; }
  int32_t frameWidth() const { return core_.frameWidth; }
  int32_t frameHeight() const { return core_.frameHeight; }
  float drawnAspectRatio() const { return core_.drawnAspectRatio; }
  float frameAspectRatio() const { return core_.frameAspectRatio; }
  GLuint program() const { return core_.programs_.defaults().id; }
  GLint m_positionHandle() const { return core_.programs_.defaults().position; }
  GLint matrixHandle() const { return core_.programs_.defaults().matrix; }
  GLint coordHandle() const { return core_.programs_.defaults().coord; }
  GLint yhandle() const { return core_.programs_.defaults().y; }
  GLint uhandle() const { return core_.programs_.defaults().u; }
  GLint vhandle() const { return core_.programs_.defaults().v; }
  GLuint _ytid() const { return core_.textures_.name(0); }
  GLuint _utid() const { return core_.textures_.name(1); }
  GLuint _vtid() const { return core_.textures_.name(2); }
  void* nativeWindow() const { return core_.environment_.window(); }
  EGLDisplay display() const { return core_.environment_.display(); }
  EGLSurface surface() const { return core_.environment_.surface(); }
  EGLContext context() const { return core_.environment_.context(); }
  const GLfloat* texMatrix() const { return core_.texMatrix; }
  int32_t scaleType() const { return core_.scaleType; }
  int32_t pendingScaleType() const { return core_.pendingScaleType; }
  bool limitedRange() const { return core_.programs_.limitedRange(); }
  bool bt709() const { return matrix() == colour::YuvMatrix::kBt709; }
  colour::YuvMatrix matrix() const { return core_.programs_.matrix(); }
  int32_t rotation() const { return core_.orientation.rotation; }
  bool mirror() const { return core_.orientation.mirror; }
  int32_t pendingRotation() const { return core_.pendingOrientation.rotation; }
  bool pendingMirror() const { return core_.pendingOrientation.mirror; }
  size_t repackedCapacity(int plane) const { return core_.repacked[plane].capacity(); }
  GLint maxTextureSize() const { return core_.textures_.maxSize(); }
  const GLfloat* background() const { return core_.background; }

 private:
  const EGLCore& core_;
};

inline EGLCoreTestPeer Peek(const EGLCore& core) {
  return EGLCoreTestPeer(core);
}

#endif  // TESTS_SUPPORT_EGLCORE_PEER_H_
