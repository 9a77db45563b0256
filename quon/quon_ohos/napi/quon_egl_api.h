#ifndef QUON_OHOS_NAPI_QUON_EGL_API_H_
#define QUON_OHOS_NAPI_QUON_EGL_API_H_

#include <EGL/egl.h>
#include <GLES2/gl2.h>

// Every EGL and GLES entry point the drawing core calls, in one table
// filled once with the driver's own functions. The core calls through it
// and never asks whether it is under test: a test that needs a call to fail
// where the driver offers no way to provoke it swaps that one entry (see
// eglcore_testing::MutableApi) and puts it back afterwards.
struct EglApi {
  decltype(&::eglChooseConfig) eglChooseConfig;
  decltype(&::eglCreateContext) eglCreateContext;
  decltype(&::eglCreateWindowSurface) eglCreateWindowSurface;
  decltype(&::eglDestroyContext) eglDestroyContext;
  decltype(&::eglDestroySurface) eglDestroySurface;
  decltype(&::eglGetDisplay) eglGetDisplay;
  decltype(&::eglInitialize) eglInitialize;
  decltype(&::eglMakeCurrent) eglMakeCurrent;
  decltype(&::eglQueryString) eglQueryString;
  decltype(&::eglReleaseThread) eglReleaseThread;
  decltype(&::eglSwapBuffers) eglSwapBuffers;
  decltype(&::eglTerminate) eglTerminate;

  decltype(&::glActiveTexture) glActiveTexture;
  decltype(&::glUniform1f) glUniform1f;
  decltype(&::glUniform4f) glUniform4f;
  decltype(&::glUniform3f) glUniform3f;
  decltype(&::glBindAttribLocation) glBindAttribLocation;
  decltype(&::glAttachShader) glAttachShader;
  decltype(&::glBindTexture) glBindTexture;
  decltype(&::glClear) glClear;
  decltype(&::glClearColor) glClearColor;
  decltype(&::glCompileShader) glCompileShader;
  decltype(&::glCreateProgram) glCreateProgram;
  decltype(&::glCreateShader) glCreateShader;
  decltype(&::glDeleteProgram) glDeleteProgram;
  decltype(&::glDeleteShader) glDeleteShader;
  decltype(&::glDeleteTextures) glDeleteTextures;
  decltype(&::glDisableVertexAttribArray) glDisableVertexAttribArray;
  decltype(&::glDrawArrays) glDrawArrays;
  decltype(&::glEnableVertexAttribArray) glEnableVertexAttribArray;
  decltype(&::glFinish) glFinish;
  decltype(&::glFlush) glFlush;
  decltype(&::glGenTextures) glGenTextures;
  decltype(&::glGetAttribLocation) glGetAttribLocation;
  decltype(&::glGetError) glGetError;
  decltype(&::glGetIntegerv) glGetIntegerv;
  decltype(&::glGetProgramiv) glGetProgramiv;
  decltype(&::glGetShaderiv) glGetShaderiv;
  decltype(&::glGetUniformLocation) glGetUniformLocation;
  decltype(&::glLinkProgram) glLinkProgram;
  decltype(&::glPixelStorei) glPixelStorei;
  decltype(&::glReadPixels) glReadPixels;
  decltype(&::glShaderSource) glShaderSource;
  decltype(&::glTexImage2D) glTexImage2D;
  decltype(&::glTexSubImage2D) glTexSubImage2D;
  decltype(&::glTexParameterf) glTexParameterf;
  decltype(&::glTexParameteri) glTexParameteri;
  decltype(&::glUniform1i) glUniform1i;
  decltype(&::glUniformMatrix4fv) glUniformMatrix4fv;
  decltype(&::glUseProgram) glUseProgram;
  decltype(&::glVertexAttribPointer) glVertexAttribPointer;
  decltype(&::glViewport) glViewport;
};

// The table the drawing core calls through.
const EglApi& Api();

namespace eglcore_testing {
// The same table, writable: tests swap an entry while no core is in use.
// Not exported from the module.
EglApi& MutableApi();
}  // namespace eglcore_testing

#endif  // QUON_OHOS_NAPI_QUON_EGL_API_H_
