/* Plug-in builds that go wrong in one way each, for the viewer's reload
 * tests, one with names like an entry point's that are not its own (a
 * private function, an imported one) and one with two entry points;
 * VARIANT picks the way. */
#include <GL/gl.h>
#include <zelkori.h>

#if VARIANT == 3
/* Defined nowhere: loading fails on it. */
extern void zk_nowhere_defined(void);
#endif

#if VARIANT == 2
/* A library with no Tcl entry point at all. */
__attribute__((visibility("default"))) int variant_entry(void) {
    return 0;
}
#else
static int ok(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    (void)data, (void)interp, (void)objc, (void)objv;
    return TCL_OK;
}

static int fails(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    (void)data, (void)objc, (void)objv;
    Tcl_SetObjResult(interp, Tcl_NewStringObj("the new build fails here", -1));
    return TCL_ERROR;
}

#if VARIANT == 5
/* Named like an entry point but not exported: not one. */
__attribute__((noinline)) int Helper_Init(Tcl_Interp *interp) {
    return interp != NULL ? TCL_OK : TCL_ERROR;
}
#endif

#if VARIANT == 6
/* A second entry point: which one a host would call is anyone's guess. */
__attribute__((visibility("default"))) int Other_Init(Tcl_Interp *interp) {
    return interp != NULL ? TCL_OK : TCL_ERROR;
}
#endif

__attribute__((visibility("default"))) int Variant_Init(Tcl_Interp *interp) {
#if VARIANT == 5
    /* Tcl's own, imported (the address only: it is not called). */
    int (*volatile imported)(Tcl_Interp *) = Tcl_Init;
    if (imported == NULL || Helper_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
#endif
#if VARIANT == 3
    zk_nowhere_defined();
#endif
    Tcl_CreateObjCommand(interp, "::model::setup", VARIANT == 4 ? fails : ok, NULL, NULL);
    Tcl_CreateObjCommand(interp, "::model::resize", ok, NULL, NULL);
    Tcl_CreateObjCommand(interp, "::model::redraw", VARIANT == 1 ? fails : ok, NULL, NULL);
    return TCL_OK;
}
#endif
