#include "khost/render/tool_layer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstddef>

namespace khost {

void FlushDrawing() {
  glFlush();
}

void FinishDrawing() {
  glFinish();
}

void ClearWindow(int width, int height) {
  glDisable(GL_SCISSOR_TEST);
  glViewport(0, 0, width, height);
  glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
}

Result<std::unique_ptr<ToolLayer>> ToolLayer::Create(int width, int height) {
  std::unique_ptr<ToolLayer> layer(new ToolLayer());
  if (Status resized = layer->Resize(width, height); !resized) return resized.GetError();
  return layer;
}

ToolLayer::~ToolLayer() {
  if (mFramebuffer) glDeleteFramebuffers(1, &mFramebuffer);
  if (mColour) glDeleteRenderbuffers(1, &mColour);
}

Status ToolLayer::Resize(int width, int height) {
  if (width < 1 || height < 1) {
    return Failure("the tool layer needs a size of at least 1x1");
  }
  GLint draw = 0;
  GLint read = 0;
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
  if (!mFramebuffer) glGenFramebuffers(1, &mFramebuffer);
  if (!mColour) glGenRenderbuffers(1, &mColour);
  glBindRenderbuffer(GL_RENDERBUFFER, mColour);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, mColour);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE) {
    glDisable(GL_SCISSOR_TEST);
    glViewport(0, 0, width, height);
    glClearColor(0.25f, 0.25f, 0.25f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    return Failure("the tool layer's framebuffer is incomplete");
  }
  mWidth = width;
  mHeight = height;
  return {};
}

void ToolLayer::Begin() {
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &mPreviousDraw);
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &mPreviousRead);
  glBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
}

void ToolLayer::End() {
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(mPreviousDraw));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(mPreviousRead));
}

void ToolLayer::Show(int x, int y, int drawableHeight) {
  GLint read = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, mFramebuffer);
  glDisable(GL_SCISSOR_TEST);  // the scissor would clip the copy
  const int top = drawableHeight - y;
  glBlitFramebuffer(0, 0, mWidth, mHeight, x, top - mHeight, x + mWidth, top, GL_COLOR_BUFFER_BIT,
                    GL_NEAREST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
}

bool ToolLayer::Read(std::vector<unsigned char>& rgba) {
  GLint read = 0;
  GLint alignment = 4;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, mFramebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
  }
  const std::size_t stride = static_cast<std::size_t>(mWidth) * 4;
  rgba.assign(stride * static_cast<std::size_t>(mHeight), 0);
  glReadPixels(0, 0, mWidth, mHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  const bool ok = glGetError() == GL_NO_ERROR;
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
  if (!ok) {
    rgba.clear();
    return false;
  }
  // GL's rows run bottom-up.
  for (int top = 0, bottom = mHeight - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(rgba.begin() + static_cast<std::ptrdiff_t>(stride) * top,
                     rgba.begin() + static_cast<std::ptrdiff_t>(stride) * (top + 1),
                     rgba.begin() + static_cast<std::ptrdiff_t>(stride) * bottom);
  }
  return true;
}

}  // namespace khost
