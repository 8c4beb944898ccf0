// OpenGL for the stand-in's drawing code, the way each platform offers it.
// Linux's library exports every entry point; Windows' opengl32.dll exports
// only OpenGL 1.1, and later entry points are asked of the current context
// with wglGetProcAddress (gl_entry.cpp).
//
// Threads: the thread whose context is current.
#pragma once

#if defined(_WIN32)
#include <windows.h>
// windows.h first: gl.h needs its calling-convention macros.
#include <GL/gl.h>
#include <GL/glext.h>

// glBlendFuncSeparate (OpenGL 1.4), looked up on first use.
void KtGL_BlendFuncSeparate(GLenum sourceRgb, GLenum destinationRgb, GLenum sourceAlpha,
                            GLenum destinationAlpha);
#define glBlendFuncSeparate KtGL_BlendFuncSeparate
#else
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#endif
