// A desktop OpenGL context on Mesa's surfaceless EGL platform, drawing into
// a framebuffer object, made current for the whole test program.
#ifndef MORVAKINE_TESTS_GL_GL_CONTEXT_H
#define MORVAKINE_TESTS_GL_GL_CONTEXT_H

#include <string>

namespace testgl {

// Makes the context current with a width x height framebuffer. Returns an
// empty string, or why no context could be made.
std::string make_current(int width, int height);

}  // namespace testgl

#endif
