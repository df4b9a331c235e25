// The OpenGL 1 calls the core draws with that the browser's fixed-function
// emulation lacks, made from what it has, so that the core's sources build
// for the page unchanged. Display lists become triangle arrays kept here
// and drawn from client arrays in one call; glBegin..glEnd outside a list
// is drawn the same way at glEnd. Only what the core and the plug-in call
// is here: vertices and normals (no colours or texture coordinates), lists
// compiled with GL_COMPILE.
#include <GL/gl.h>

#include <map>
#include <vector>

namespace {

struct Triangles {
    std::vector<GLfloat> vertices;  // x y z nx ny nz, three per triangle
};

struct LegacyGl {
    std::map<GLuint, Triangles> lists;
    GLuint next_list = 1;
    GLuint compiling = 0;  // the list being compiled; 0 for none
    Triangles immediate;
    std::vector<GLfloat> begun;  // the vertices since glBegin
    GLenum mode = GL_TRIANGLES;
    GLfloat normal[3] = {0, 0, 1};
};

LegacyGl &gl() {
    static LegacyGl state;
    return state;
}

const int kStride = 6;

void append(std::vector<GLfloat> &to, const std::vector<GLfloat> &from, size_t vertex) {
    to.insert(to.end(), from.begin() + static_cast<long>(vertex * kStride),
              from.begin() + static_cast<long>((vertex + 1) * kStride));
}

// The vertices since glBegin as separate triangles, each wound as the
// strip or fan had it.
void to_triangles(const std::vector<GLfloat> &begun, GLenum mode, Triangles *out) {
    const size_t count = begun.size() / kStride;
    for (size_t i = 0; i + 2 < count; ++i) {
        size_t a = i, b = i + 1, c = i + 2;
        if (mode == GL_TRIANGLE_FAN) {
            a = 0;
        } else if (mode == GL_TRIANGLE_STRIP && i % 2 == 1) {
            a = i + 1;
            b = i;
        } else if (mode == GL_TRIANGLES && i % 3 != 0) {
            continue;
        }
        append(out->vertices, begun, a);
        append(out->vertices, begun, b);
        append(out->vertices, begun, c);
    }
}

void draw(const Triangles &triangles) {
    if (triangles.vertices.empty()) {
        return;
    }
    const GLfloat *data = triangles.vertices.data();
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, kStride * sizeof(GLfloat), data);
    glNormalPointer(GL_FLOAT, kStride * sizeof(GLfloat), data + 3);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangles.vertices.size() / kStride));
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

}  // namespace

extern "C" {

GLuint glGenLists(GLsizei range) {
    if (range <= 0) {
        return 0;
    }
    const GLuint base = gl().next_list;
    gl().next_list += static_cast<GLuint>(range);
    return base;
}

GLboolean glIsList(GLuint list) {
    return gl().lists.count(list) != 0 ? GL_TRUE : GL_FALSE;
}

void glNewList(GLuint list, GLenum) {
    gl().compiling = list;
    gl().lists[list].vertices.clear();
}

void glEndList(void) { gl().compiling = 0; }

void glCallList(GLuint list) {
    const auto found = gl().lists.find(list);
    if (found != gl().lists.end()) {
        draw(found->second);
    }
}

void glBegin(GLenum mode) {
    gl().mode = mode;
    gl().begun.clear();
}

void glNormal3d(GLdouble x, GLdouble y, GLdouble z) {
    gl().normal[0] = static_cast<GLfloat>(x);
    gl().normal[1] = static_cast<GLfloat>(y);
    gl().normal[2] = static_cast<GLfloat>(z);
}

void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
    const GLfloat *n = gl().normal;
    gl().begun.insert(gl().begun.end(), {static_cast<GLfloat>(x), static_cast<GLfloat>(y),
                                         static_cast<GLfloat>(z), n[0], n[1], n[2]});
}

void glEnd(void) {
    LegacyGl &state = gl();
    if (state.compiling != 0) {
        to_triangles(state.begun, state.mode, &state.lists[state.compiling]);
    } else {
        state.immediate.vertices.clear();
        to_triangles(state.begun, state.mode, &state.immediate);
        draw(state.immediate);
    }
    state.begun.clear();
}

// Matrices only: the core reads nothing else as doubles.
void glGetDoublev(GLenum name, GLdouble *out) {
    GLfloat values[16] = {};
    glGetFloatv(name, values);
    const bool matrix = name == GL_MODELVIEW_MATRIX || name == GL_PROJECTION_MATRIX ||
                        name == GL_TEXTURE_MATRIX;
    for (int i = 0; i < (matrix ? 16 : 1); ++i) {
        out[i] = values[i];
    }
}

void glLightModeli(GLenum name, GLint value) {
    glLightModelf(name, static_cast<GLfloat>(value));
}

}  // extern "C"
