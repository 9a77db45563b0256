/*
 * XComponent: a UI element that hands a native surface to native code. The
 * runtime owns the component handle and its native window; native code
 * queries them and registers the callbacks that follow the surface's life.
 */
#ifndef ACE_XCOMPONENT_NATIVE_INTERFACE_XCOMPONENT_H
#define ACE_XCOMPONENT_NATIVE_INTERFACE_XCOMPONENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest id a component has, without its terminator. */
const uint32_t OH_XCOMPONENT_ID_LEN_MAX = 128;

enum {
    OH_NATIVEXCOMPONENT_RESULT_SUCCESS = 0,
    OH_NATIVEXCOMPONENT_RESULT_FAILED = -1,
    OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER = -2,
};

typedef struct OH_NativeXComponent OH_NativeXComponent;

/* Called on the UI thread with the component and its native window. */
typedef struct OH_NativeXComponent_Callback {
    void (*OnSurfaceCreated)(OH_NativeXComponent* component, void* window);
    void (*OnSurfaceChanged)(OH_NativeXComponent* component, void* window);
    void (*OnSurfaceDestroyed)(OH_NativeXComponent* component, void* window);
    void (*DispatchTouchEvent)(OH_NativeXComponent* component, void* window);
} OH_NativeXComponent_Callback;

/*
 * Copies the component's id, with its terminator, into id. On entry *size is
 * the buffer's size; on success it becomes the id's length. Gives
 * OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER for null arguments or when the id
 * and its terminator do not fit; the buffer is then left untouched.
 */
int32_t OH_NativeXComponent_GetXComponentId(OH_NativeXComponent* component,
                                            char* id, uint64_t* size);

/*
 * Reports the size of the component's surface. window must be the
 * component's current native window.
 */
int32_t OH_NativeXComponent_GetXComponentSize(OH_NativeXComponent* component,
                                              const void* window,
                                              uint64_t* width, uint64_t* height);

/*
 * Installs the surface callbacks. The table is borrowed, not copied: it must
 * outlive the component or be replaced by another registration.
 */
int32_t OH_NativeXComponent_RegisterCallback(OH_NativeXComponent* component,
                                             OH_NativeXComponent_Callback* callback);

#ifdef __cplusplus
}
#endif

#endif /* ACE_XCOMPONENT_NATIVE_INTERFACE_XCOMPONENT_H */
