// The floor for the renderer's start-up: a bare program that does only what
// any headless OpenGL picture needs (EGL on the surfaceless platform, a
// desktop OpenGL context, a framebuffer with colour and depth), clears and
// reads one pixel back. bench/startup_pairs.tcl times the renderer against it.
// With --lit it first draws one lit, depth-tested triangle: what any picture
// costs llvmpipe the first time it draws, its shaders made or loaded.
//   egl_floor [--lit] [WIDTH HEIGHT]   (default 64 48); prints the pixel read
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
    const bool lit = argc > 1 && std::strcmp(argv[1], "--lit") == 0;
    if (lit) {
        --argc, ++argv;
    }
    int width = argc > 2 ? std::atoi(argv[1]) : 64;
    int height = argc > 2 ? std::atoi(argv[2]) : 48;
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA,
                                               EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr) ||
        !eglBindAPI(EGL_OPENGL_API)) {
        std::fprintf(stderr, "egl_floor: no EGL display\n");
        return 1;
    }
    EGLContext context = eglCreateContext(display, nullptr, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        std::fprintf(stderr, "egl_floor: no OpenGL context\n");
        return 1;
    }
    GLuint framebuffer = 0, buffers[2] = {0, 0};
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(2, buffers);
    glBindRenderbuffer(GL_RENDERBUFFER, buffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                              buffers[0]);
    glBindRenderbuffer(GL_RENDERBUFFER, buffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                              buffers[1]);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        std::fprintf(stderr, "egl_floor: incomplete framebuffer\n");
        return 1;
    }
    glViewport(0, 0, width, height);
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (lit) {
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glBegin(GL_TRIANGLES);
        glNormal3f(0.0f, 0.0f, 1.0f);
        glVertex3f(-1.0f, -1.0f, 0.0f);
        glVertex3f(1.0f, -1.0f, 0.0f);
        glVertex3f(0.0f, 1.0f, 0.0f);
        glEnd();
    }
    unsigned char pixel[4] = {0, 0, 0, 0};
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    std::printf("%d %d %d %d\n", pixel[0], pixel[1], pixel[2], pixel[3]);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    eglTerminate(display);
    return 0;
}
