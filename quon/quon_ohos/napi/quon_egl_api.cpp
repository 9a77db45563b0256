#include "quon_egl_api.h"

namespace {

EglApi DriverApi() {
  EglApi api;
  api.eglChooseConfig = &::eglChooseConfig;
  api.eglCreateContext = &::eglCreateContext;
  api.eglCreateWindowSurface = &::eglCreateWindowSurface;
  api.eglDestroyContext = &::eglDestroyContext;
  api.eglDestroySurface = &::eglDestroySurface;
  api.eglGetDisplay = &::eglGetDisplay;
  api.eglInitialize = &::eglInitialize;
  api.eglMakeCurrent = &::eglMakeCurrent;
  api.eglQueryString = &::eglQueryString;
  api.eglReleaseThread = &::eglReleaseThread;
  api.eglSwapBuffers = &::eglSwapBuffers;
  api.eglTerminate = &::eglTerminate;
  api.glActiveTexture = &::glActiveTexture;
  api.glUniform1f = &::glUniform1f;
  api.glUniform4f = &::glUniform4f;
  api.glUniform3f = &::glUniform3f;
  api.glBindAttribLocation = &::glBindAttribLocation;
  api.glAttachShader = &::glAttachShader;
  api.glBindTexture = &::glBindTexture;
  api.glClear = &::glClear;
  api.glClearColor = &::glClearColor;
  api.glCompileShader = &::glCompileShader;
  api.glCreateProgram = &::glCreateProgram;
  api.glCreateShader = &::glCreateShader;
  api.glDeleteProgram = &::glDeleteProgram;
  api.glDeleteShader = &::glDeleteShader;
  api.glDeleteTextures = &::glDeleteTextures;
  api.glDisableVertexAttribArray = &::glDisableVertexAttribArray;
  api.glDrawArrays = &::glDrawArrays;
  api.glEnableVertexAttribArray = &::glEnableVertexAttribArray;
  api.glFinish = &::glFinish;
  api.glFlush = &::glFlush;
  api.glGenTextures = &::glGenTextures;
  api.glGetAttribLocation = &::glGetAttribLocation;
  api.glGetError = &::glGetError;
  api.glGetIntegerv = &::glGetIntegerv;
  api.glGetProgramiv = &::glGetProgramiv;
  api.glGetShaderiv = &::glGetShaderiv;
  api.glGetUniformLocation = &::glGetUniformLocation;
  api.glLinkProgram = &::glLinkProgram;
  api.glPixelStorei = &::glPixelStorei;
  api.glReadPixels = &::glReadPixels;
  api.glShaderSource = &::glShaderSource;
  api.glTexImage2D = &::glTexImage2D;
  api.glTexSubImage2D = &::glTexSubImage2D;
  api.glTexParameterf = &::glTexParameterf;
  api.glTexParameteri = &::glTexParameteri;
  api.glUniform1i = &::glUniform1i;
  api.glUniformMatrix4fv = &::glUniformMatrix4fv;
  api.glUseProgram = &::glUseProgram;
  api.glVertexAttribPointer = &::glVertexAttribPointer;
  api.glViewport = &::glViewport;
  return api;
}

}  // namespace

namespace eglcore_testing {
EglApi& MutableApi() {
  static EglApi api = DriverApi();
  return api;
}
}  // namespace eglcore_testing

const EglApi& Api() {
  return eglcore_testing::MutableApi();
}
