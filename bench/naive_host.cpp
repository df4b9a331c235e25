#include "naive_host.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace naive_host {
namespace {

const int kSphereSlices = 32, kSphereStacks = 24;
const int kCylinderSlices = 32;

struct Counter {
    long long triangles = 0;
};

Counter &counter() {
    static Counter instance;
    return instance;
}

}  // namespace

void draw_mode_setup(void (*library_setup)()) {
    library_setup();
    glDisable(GL_CULL_FACE);
}

void sphere(double radius) {
    GLUquadric *quadric = gluNewQuadric();
    gluQuadricNormals(quadric, GLU_SMOOTH);
    gluSphere(quadric, radius, kSphereSlices, kSphereStacks);
    gluDeleteQuadric(quadric);
    // Fans at the poles, quad strips between.
    counter().triangles += 2 * kSphereSlices + 2 * kSphereSlices * (kSphereStacks - 2);
}

void cylinder(double length, double radius1, double radius2) {
    GLUquadric *quadric = gluNewQuadric();
    gluQuadricNormals(quadric, GLU_SMOOTH);
    gluCylinder(quadric, radius1, radius2, length, kCylinderSlices, 1);
    glPushMatrix();
    glRotated(180.0, 1.0, 0.0, 0.0);  // bottom cap faces -z
    gluDisk(quadric, 0.0, radius1, kCylinderSlices, 1);
    glPopMatrix();
    glPushMatrix();
    glTranslated(0.0, 0.0, length);
    gluDisk(quadric, 0.0, radius2, kCylinderSlices, 1);
    glPopMatrix();
    gluDeleteQuadric(quadric);
    counter().triangles += 2 * kCylinderSlices + 2 * kCylinderSlices;
}

long long take_triangles() {
    const long long taken = counter().triangles;
    counter().triangles = 0;
    return taken;
}

}  // namespace naive_host
