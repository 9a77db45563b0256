#ifndef TESTS_SUPPORT_EGL_FAULTS_H_
#define TESTS_SUPPORT_EGL_FAULTS_H_

#include <EGL/egl.h>
#include <GLES2/gl2.h>

#include "quon_egl_api.h"

// The steps of building a core's environment, in order. FailStep makes one
// of them fail, where the driver offers no way to provoke a real failure,
// by swapping that one entry of the core's EGL/GLES table for a stand-in
// that fails the way the driver would; the core then takes exactly the path
// a real failure of that call takes.
enum class EglStep {
  kNone,
  kGetDisplay,
  kInitialize,
  kChooseConfig,
  kCreateSurface,
  kCreateContext,
  kMakeCurrent,
  kCreateVertexShader,
  kCreateFragmentShader,
  kCompileVertexShader,
  kCompileFragmentShader,
  kCreateProgram,
  kLinkProgram,
};

namespace egl_faults {

inline GLint ShaderType(GLuint shader) {
  GLint type = 0;
  ::glGetShaderiv(shader, GL_SHADER_TYPE, &type);
  return type;
}

// A compile status of 0 for shaders of type `kType`.
template <GLenum kType>
void FailingCompileStatus(GLuint shader, GLenum name, GLint* value) {
  ::glGetShaderiv(shader, name, value);
  if (name == GL_COMPILE_STATUS && ShaderType(shader) == static_cast<GLint>(kType))
    *value = 0;
}

}  // namespace egl_faults

// Every core fails `step` until this is called again (kNone: no failure).
// Call it while no core is in use.
inline void FailStep(EglStep step) {
  EglApi& api = eglcore_testing::MutableApi();
  static const EglApi driver = api;
  api = driver;
  switch (step) {
    case EglStep::kNone:
      break;
    case EglStep::kGetDisplay:
      api.eglGetDisplay = [](EGLNativeDisplayType) { return EGL_NO_DISPLAY; };
      break;
    case EglStep::kInitialize:
      api.eglInitialize = [](EGLDisplay, EGLint*, EGLint*) -> EGLBoolean { return EGL_FALSE; };
      break;
    case EglStep::kChooseConfig:
      api.eglChooseConfig = [](EGLDisplay, const EGLint*, EGLConfig*, EGLint,
                               EGLint*) -> EGLBoolean { return EGL_FALSE; };
      break;
    case EglStep::kCreateSurface:
      api.eglCreateWindowSurface = [](EGLDisplay, EGLConfig, EGLNativeWindowType,
                                      const EGLint*) { return EGL_NO_SURFACE; };
      break;
    case EglStep::kCreateContext:
      api.eglCreateContext = [](EGLDisplay, EGLConfig, EGLContext, const EGLint*) {
        return EGL_NO_CONTEXT;
      };
      break;
    case EglStep::kMakeCurrent:
      // Binding fails; letting go of the context still works.
      api.eglMakeCurrent = [](EGLDisplay display, EGLSurface draw, EGLSurface read,
                              EGLContext context) -> EGLBoolean {
        return draw == EGL_NO_SURFACE ? ::eglMakeCurrent(display, draw, read, context) : EGL_FALSE;
      };
      break;
    case EglStep::kCreateVertexShader:
      api.glCreateShader = [](GLenum type) -> GLuint {
        return type == GL_VERTEX_SHADER ? 0 : ::glCreateShader(type);
      };
      break;
    case EglStep::kCreateFragmentShader:
      api.glCreateShader = [](GLenum type) -> GLuint {
        return type == GL_FRAGMENT_SHADER ? 0 : ::glCreateShader(type);
      };
      break;
    case EglStep::kCompileVertexShader:
      api.glGetShaderiv = egl_faults::FailingCompileStatus<GL_VERTEX_SHADER>;
      break;
    case EglStep::kCompileFragmentShader:
      api.glGetShaderiv = egl_faults::FailingCompileStatus<GL_FRAGMENT_SHADER>;
      break;
    case EglStep::kCreateProgram:
      api.glCreateProgram = []() -> GLuint { return 0; };
      break;
    case EglStep::kLinkProgram:
      api.glGetProgramiv = [](GLuint program, GLenum name, GLint* value) {
        ::glGetProgramiv(program, name, value);
        if (name == GL_LINK_STATUS)
          *value = 0;
      };
      break;
  }
}

#endif  // TESTS_SUPPORT_EGL_FAULTS_H_
