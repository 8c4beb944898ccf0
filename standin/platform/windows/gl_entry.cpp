// OpenGL entry points beyond 1.1 on Windows, through wglGetProcAddress.
#include "standin/platform/gl_entry.h"

void KtGL_BlendFuncSeparate(GLenum sourceRgb, GLenum destinationRgb, GLenum sourceAlpha,
                            GLenum destinationAlpha) {
  // Every context the stand-in makes comes from one driver, so one lookup
  // serves them all. Without the entry point, text blends its colour only.
  static const PFNGLBLENDFUNCSEPARATEPROC function = reinterpret_cast<PFNGLBLENDFUNCSEPARATEPROC>(
      reinterpret_cast<void*>(wglGetProcAddress("glBlendFuncSeparate")));
  if (function) {
    function(sourceRgb, destinationRgb, sourceAlpha, destinationAlpha);
  } else {
    glBlendFunc(sourceRgb, destinationRgb);
  }
}
