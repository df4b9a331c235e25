// Where frames are drawn and how they are finished: multisampling (a
// multisampled framebuffer resolved with one blit into the offscreen
// framebuffer or a window's back buffer) and the background put under the
// figure. The offscreen context and a window go the same way, so that the
// renderer and the viewer show the same picture.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/state.h"

namespace zelkori {
namespace {

GLuint binding(GLenum which) {
    GLint name = 0;
    glGetIntegerv(which, &name);
    return static_cast<GLuint>(name);
}

void release_buffers(GLuint *framebuffer, GLuint *color, GLuint *depth) {
    if (*framebuffer != 0) {
        glDeleteFramebuffers(1, framebuffer);
    }
    if (*color != 0) {
        glDeleteRenderbuffers(1, color);
    }
    if (*depth != 0) {
        glDeleteRenderbuffers(1, depth);
    }
    *framebuffer = *color = *depth = 0;
}

const unsigned kNoResolver = ~0u;

void release_resolver(FrameTarget &target) {
    if (target.resolver != 0 && target.resolver != kNoResolver) {
        glDeleteProgram(target.resolver);
    }
    target.resolver = 0;
}

void release(FrameTarget &target) {
    if (target.color_texture) {
        glDeleteTextures(1, &target.multi_color);
        target.multi_color = 0;
        target.color_texture = false;
    }
    release_buffers(&target.multi, &target.multi_color, &target.multi_depth);
    release_buffers(&target.own, &target.own_color, &target.own_depth);
    release_resolver(target);
}

// An RGBA framebuffer with a depth buffer, `samples` a pixel (0: not
// multisampled). With `texture_samples`, its colour is a multisampled
// texture and that gets the samples it holds. Leaves it bound; false, with
// nothing made, on failure.
bool make_buffers(int width, int height, int samples, GLuint *framebuffer, GLuint *color,
                  GLuint *depth, int *texture_samples = nullptr) {
    glGenFramebuffers(1, framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, *framebuffer);
    if (texture_samples != nullptr) {
        const GLuint bound = binding(GL_TEXTURE_BINDING_2D_MULTISAMPLE);
        glGenTextures(1, color);
        glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, *color);
        glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, samples, GL_RGBA8, width, height,
                                GL_TRUE);
        glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES,
                                 texture_samples);
        glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, bound);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D_MULTISAMPLE,
                               *color, 0);
    } else {
        glGenRenderbuffers(1, color);
        glBindRenderbuffer(GL_RENDERBUFFER, *color);
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, width, height);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                  *color);
    }
    glGenRenderbuffers(1, depth);
    glBindRenderbuffer(GL_RENDERBUFFER, *depth);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, width,
                                     height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, *depth);
    if (glGetError() != GL_NO_ERROR ||
        glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        if (texture_samples != nullptr) {
            glDeleteTextures(1, color);
            *color = 0;
        }
        release_buffers(framebuffer, color, depth);
        return false;
    }
    return true;
}

// The framebuffer the plug-in draws into.
GLuint drawn_into(const FrameTarget &target) {
    return target.multi != 0 ? target.multi : target.target;
}

// Whether a background must be laid under the frame: black needs nothing
// (the colours stay as they are, and only formats with alpha read the
// alpha), and a transparent one keeps the alpha.
bool coloured_background() {
    const Background &background = state().background;
    return !background.transparent &&
           (background.rgb[0] != 0 || background.rgb[1] != 0 || background.rgb[2] != 0);
}

// The background under what is drawn on the bound draw framebuffer, whose
// empty pixels are transparent black: a quad blended in by the alpha
// already there, sample by sample, which leaves the frame opaque.
void put_background(int width, int height) {
    const Background &background = state().background;
    if (!coloured_background()) {
        return;
    }
    glViewport(0, 0, width, height);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE_MINUS_DST_ALPHA, GL_ONE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor4f(background.rgb[0], background.rgb[1], background.rgb[2], 1.0f);
    glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

void copy(GLuint from, GLuint to, int width, int height) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

// A program that draws each pixel as the mean of the `samples` samples of
// the multisampled texture on unit 0, summed in turn and scaled as a
// blit's resolve does; 0 where the driver cannot make it.
GLuint make_resolver(int samples) {
    static const char *vertex =
        "#version 150\n"
        "void main() {\n"
        "    gl_Position = vec4(float((gl_VertexID & 1) * 4 - 1),\n"
        "                       float((gl_VertexID >> 1) * 4 - 1), 0.0, 1.0);\n"
        "}\n";
    std::string fragment =
        "#version 150\n"
        "uniform sampler2DMS samples;\n"
        "out vec4 colour;\n"
        "void main() {\n"
        "    ivec2 at = ivec2(gl_FragCoord.xy);\n"
        "    vec4 sum = texelFetch(samples, at, 0);\n";
    for (int k = 1; k < samples; ++k) {
        fragment += "    sum += texelFetch(samples, at, " + std::to_string(k) + ");\n";
    }
    char scale[64];
    std::snprintf(scale, sizeof scale, "    colour = sum * %.9g;\n}\n",
                  static_cast<double>(1.0f / static_cast<float>(samples)));
    fragment += scale;
    const char *sources[2] = {vertex, fragment.c_str()};
    const GLenum kinds[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
    const GLuint program = glCreateProgram();
    for (int k = 0; k < 2; ++k) {
        const GLuint shader = glCreateShader(kinds[k]);
        glShaderSource(shader, 1, &sources[k], nullptr);
        glCompileShader(shader);
        glAttachShader(program, shader);
        glDeleteShader(shader);
    }
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (program != 0 && linked != GL_TRUE) {
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

// Resolves `target`'s samples into the framebuffer `to` with a program of
// the host's, inside zk_frame_finish's saved state; false where it cannot
// (a blit resolves then). Mesa's llvmpipe compiles a blit's resolve
// shaders afresh in every process, never from its shader cache: 20 ms and
// more of a first frame, where this program's come from the cache.
bool resolve_by_program(FrameTarget &target, GLuint to) {
    if (!target.color_texture || target.resolver == kNoResolver) {
        return false;
    }
    if (target.resolver != 0 && target.resolver_samples != target.color_samples) {
        release_resolver(target);
    }
    if (target.resolver == 0) {
        target.resolver = make_resolver(target.color_samples);
        target.resolver_samples = target.color_samples;
        if (target.resolver == 0) {
            target.resolver = kNoResolver;
            return false;
        }
    }
    const GLuint program = binding(GL_CURRENT_PROGRAM);
    const GLenum unit = binding(GL_ACTIVE_TEXTURE);
    glActiveTexture(GL_TEXTURE0);
    const GLuint texture = binding(GL_TEXTURE_BINDING_2D_MULTISAMPLE);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, target.multi_color);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to);
    glViewport(0, 0, target.width, target.height);
    glDisable(GL_BLEND);
    glDisable(GL_COLOR_LOGIC_OP);
    glDisable(GL_POLYGON_STIPPLE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    GLint planes = 0;
    glGetIntegerv(GL_MAX_CLIP_DISTANCES, &planes);
    for (GLint k = 0; k < planes; ++k) {
        glDisable(GL_CLIP_DISTANCE0 + k);
    }
    glUseProgram(target.resolver);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glUseProgram(program);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, texture);
    glActiveTexture(unit);
    return true;
}

}  // namespace

void release_frame_target(const void *context) {
    auto found = state().targets.find(context);
    if (found != state().targets.end()) {
        release(found->second);
        state().targets.erase(found);
    }
}

void bind(const FrameTarget &target) {
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, drawn_into(target));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.target);
}

bool make_frame_target(int width, int height, int samples, bool window, FrameTarget *made) {
    while (glGetError() != GL_NO_ERROR) {
    }
    *made = FrameTarget();
    made->window = window;
    made->width = width;
    made->height = height;
    made->samples = samples;
    made->target = window ? 0 : state().offscreen.framebuffer;
    bool done = true;
    // A window's back buffer has no alpha to lay a background by: at one
    // sample the frame is drawn into a framebuffer of the host's that has.
    if (window && samples == 1 && coloured_background()) {
        done = make_buffers(width, height, 0, &made->own, &made->own_color, &made->own_depth);
        made->target = made->own;
    }
    // Offscreen, the samples go into a texture that a program of the
    // host's resolves (resolve_by_program); renderbuffers where the driver
    // has no such textures.
    if (done && samples > 1 && !window) {
        made->color_texture = make_buffers(width, height, samples, &made->multi,
                                           &made->multi_color, &made->multi_depth,
                                           &made->color_samples);
    }
    if (done && samples > 1 && !made->color_texture) {
        while (glGetError() != GL_NO_ERROR) {
        }
        done = make_buffers(width, height, samples, &made->multi, &made->multi_color,
                            &made->multi_depth);
    }
    if (!done) {
        release(*made);
    }
    return done;
}

void install_frame_target(const void *context, FrameTarget made) {
    // The old target's program serves the new one.
    auto found = state().targets.find(context);
    if (found != state().targets.end() && made.resolver == 0) {
        made.resolver = found->second.resolver;
        made.resolver_samples = found->second.resolver_samples;
        found->second.resolver = 0;
    }
    release_frame_target(context);
    // Without buffers of its own the frame is drawn straight into the
    // offscreen framebuffer or the window's back buffer.
    if (made.multi != 0 || made.own != 0) {
        state().targets[context] = made;
    }
    bind(made);
    if (drawn_into(made) != 0) {
        glDrawBuffer(GL_COLOR_ATTACHMENT0);
    }
}

namespace {

FrameTarget *current_target() {
    const void *context = current_context();
    auto found = state().targets.find(context);
    if (context == nullptr || found == state().targets.end() ||
        binding(GL_DRAW_FRAMEBUFFER_BINDING) != drawn_into(found->second)) {
        return nullptr;
    }
    return &found->second;
}

// Resolves the samples into the window's back buffer; where the driver
// cannot (the formats differ), into a framebuffer of the host's, copied
// on from there.
void resolve_to_window(FrameTarget &target) {
    while (glGetError() != GL_NO_ERROR) {
    }
    if (target.own == 0) {
        copy(target.multi, 0, target.width, target.height);
        if (glGetError() == GL_NO_ERROR) {
            return;
        }
        if (!make_buffers(target.width, target.height, 0, &target.own, &target.own_color,
                          &target.own_depth)) {
            return;
        }
        target.target = target.own;
    }
    copy(target.multi, target.own, target.width, target.height);
    copy(target.own, 0, target.width, target.height);
}

}  // namespace

const FrameTarget *frame_target() {
    return current_target();
}

int samples_max() {
    if (current_context() == nullptr) {
        return 1;
    }
    GLint most = 1;
    glGetIntegerv(GL_MAX_SAMPLES, &most);
    return std::max(1, static_cast<int>(most));
}

}  // namespace zelkori

using zelkori::state;

extern "C" {

int zk_frame_target(int width, int height, int samples, const char **error) {
    static const char *unused = nullptr;
    if (error == nullptr) {
        error = &unused;
    }
    const void *context = zelkori::current_context();
    if (context == nullptr) {
        *error = "no OpenGL context is current";
        return 0;
    }
    const zelkori::Offscreen &offscreen = state().offscreen;
    const bool window = context != offscreen.context;
    if (!window) {
        width = offscreen.width;
        height = offscreen.height;
    }
    if (width < 1 || height < 1 || width > ZK_MAX_SIDE || height > ZK_MAX_SIDE || samples < 1) {
        *error = "size or samples out of range";
        return 0;
    }
    samples = std::min(samples, zelkori::samples_max());
    auto found = state().targets.find(context);
    if (found != state().targets.end() && found->second.width == width &&
        found->second.height == height && found->second.samples == samples &&
        (window || found->second.target == offscreen.framebuffer)) {
        zelkori::bind(found->second);
        return samples;
    }
    zelkori::FrameTarget made;
    if (!zelkori::make_frame_target(width, height, samples, window, &made)) {
        if (found != state().targets.end()) {
            zelkori::bind(found->second);
        } else {
            glBindFramebuffer(GL_FRAMEBUFFER, window ? 0 : offscreen.framebuffer);
        }
        *error = "not enough memory for the framebuffer";
        return 0;
    }
    zelkori::install_frame_target(context, made);
    return samples;
}

void zk_frame_finish(void) {
    if (zelkori::current_context() == nullptr) {
        return;
    }
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT | GL_CURRENT_BIT |
                 GL_VIEWPORT_BIT | GL_TRANSFORM_BIT | GL_POLYGON_BIT);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_FOG);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    zelkori::FrameTarget *target = zelkori::current_target();
    if (target == nullptr) {
        // Drawn straight into the offscreen framebuffer or a window.
        zelkori::put_background(viewport[2], viewport[3]);
    } else {
        // The background goes on where the frame was drawn, the samples
        // and the alpha still there; then the frame goes where it is read.
        const int width = target->width, height = target->height;
        zelkori::put_background(width, height);
        if (target->multi != 0 && target->window) {
            zelkori::resolve_to_window(*target);
        } else if (target->multi != 0 && !zelkori::resolve_by_program(*target, target->target)) {
            zelkori::copy(target->multi, target->target, width, height);
        } else if (target->window) {
            zelkori::copy(target->own, 0, width, height);
        }
        zelkori::bind(*target);
    }
    glPopAttrib();
}

}  // extern "C"
