// The Tcl face and threads: the host's state is one per process, so a
// thread other than the first to load the package is refused up front, in
// one line, and the first thread's interpreters carry on.
#include <gtest/gtest.h>
#include <tcl.h>

#include <string>
#include <thread>

extern "C" int Zelkori_Init(Tcl_Interp *interp);

namespace {

TEST(FaceThreads, ASecondThreadIsRefusedAndTheFirstGoesOn) {
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *first = Tcl_CreateInterp();
    ASSERT_EQ(Zelkori_Init(first), TCL_OK) << Tcl_GetStringResult(first);
    int code = TCL_OK;
    std::string refusal, error_code;
    std::thread other([&] {
        Tcl_Interp *interp = Tcl_CreateInterp();
        code = Zelkori_Init(interp);
        refusal = Tcl_GetStringResult(interp);
        Tcl_Obj *options = Tcl_GetReturnOptions(interp, code);
        Tcl_Obj *key = Tcl_NewStringObj("-errorcode", -1), *value = nullptr;
        Tcl_IncrRefCount(options);
        Tcl_IncrRefCount(key);
        Tcl_DictObjGet(nullptr, options, key, &value);
        error_code = value != nullptr ? Tcl_GetString(value) : "";
        Tcl_DecrRefCount(key);
        Tcl_DecrRefCount(options);
        Tcl_DeleteInterp(interp);
        Tcl_FinalizeThread();
    });
    other.join();
    EXPECT_EQ(code, TCL_ERROR);
    EXPECT_EQ(refusal,
              "libzelkori.so serves one thread, and another thread of this process loaded it first");
    EXPECT_EQ(error_code, "ZELKORI THREAD");

    Tcl_Interp *second = Tcl_CreateInterp();
    EXPECT_EQ(Zelkori_Init(second), TCL_OK) << Tcl_GetStringResult(second);
    ASSERT_EQ(Tcl_Eval(first, "zelkori::clock set 2.5; zelkori::clock get"), TCL_OK);
    EXPECT_STREQ(Tcl_GetStringResult(first), "2.5");
    Tcl_DeleteInterp(second);
    Tcl_DeleteInterp(first);
}

}  // namespace
