/* Scene capture: what the host's primitives are asked to draw, recorded as
 * numbers. From zk_capture_start to zk_capture_stop the sphere and
 * cylinder primitives record into the capture what they are asked to draw,
 * and draw it as always, so that every other output open meanwhile gets
 * its picture: the primitive, its sizes, the diffuse colour and the
 * model-view matrix, and at the first one the projection and viewport.
 * Primitives without a current GL context are not recorded.
 * zk_capture_frame begins the next frame (animation sample). Several
 * captures record at once, each everything drawn while it records. */
#ifndef ZELKORI_PUBLIC_CAPTURE_H
#define ZELKORI_PUBLIC_CAPTURE_H

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

typedef struct zk_primitive {
    int kind;  /* 0 sphere, 1 cylinder */
    int frame;
    /* Sphere: radius. Cylinder: length, radius at z = 0, at z = length. */
    double size[3];
    float color[3];
    double modelview[16]; /* column-major, as GL gives it */
} zk_primitive;
typedef struct zk_capture zk_capture;
/* A quiet capture: while it records, the primitives draw nothing and
 * record into it alone, so that a measure of what a script draws
 * disturbs no picture and no other capture. */
#define ZK_CAPTURE_QUIET 1
/* flags: 0 or ZK_CAPTURE_QUIET. NULL when there is no memory for one. */
zk_capture *zk_capture_start(int flags);
void zk_capture_frame(zk_capture *capture);
void zk_capture_stop(zk_capture *capture);
/* The capture's primitives, in draw order; 0 past the last. */
int zk_capture_at(const zk_capture *capture, int index, zk_primitive *out);
/* Stops the capture and frees it; NULL is allowed. */
void zk_capture_free(zk_capture *capture);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
