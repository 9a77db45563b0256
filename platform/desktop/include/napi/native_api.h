/*
 * Native module interface: module registration and the few value
 * operations a native module needs to find what the runtime attached to its
 * exports object.
 *
 * Every operation returns napi_ok on success. A null env, argument or result
 * pointer gives napi_invalid_arg and leaves *result untouched.
 */
#ifndef NAPI_NATIVE_API_H
#define NAPI_NATIVE_API_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct napi_env__* napi_env;
typedef struct napi_value__* napi_value;

typedef enum {
    napi_ok = 0,
    napi_invalid_arg,
    napi_object_expected,
    napi_string_expected,
    napi_name_expected,
    napi_function_expected,
    napi_number_expected,
    napi_boolean_expected,
    napi_array_expected,
    napi_generic_failure,
    napi_pending_exception,
    napi_cancelled,
    napi_escape_called_twice,
    napi_handle_scope_mismatch,
    napi_callback_scope_mismatch,
    napi_queue_full,
    napi_closing,
    napi_bigint_expected,
} napi_status;

typedef enum {
    napi_undefined,
    napi_null,
    napi_boolean,
    napi_number,
    napi_string,
    napi_symbol,
    napi_object,
    napi_function,
    napi_external,
    napi_bigint,
} napi_valuetype;

typedef napi_value (*napi_addon_register_func)(napi_env env, napi_value exports);

typedef struct napi_module {
    int nm_version;
    unsigned int nm_flags;
    const char* nm_filename;
    napi_addon_register_func nm_register_func;
    const char* nm_modname;
    void* nm_priv;
    void* reserved[4];
} napi_module;

/*
 * Adds a module to the process-wide registry under mod->nm_modname. The
 * descriptor is borrowed and must outlive the registration. Registering a
 * name again replaces the earlier descriptor. Null descriptors and nameless
 * modules are ignored.
 */
void napi_module_register(napi_module* mod);

/*
 * Reads a named property of an object. A property the object does not have
 * yields the undefined value with napi_ok; a value that is not an object
 * gives napi_object_expected.
 */
napi_status napi_get_named_property(napi_env env, napi_value object,
                                    const char* utf8name, napi_value* result);

napi_status napi_typeof(napi_env env, napi_value value, napi_valuetype* result);

/*
 * Returns the native pointer wrapped in an object. A value with no wrapped
 * pointer (including any value that is not an object) gives napi_invalid_arg.
 */
napi_status napi_unwrap(napi_env env, napi_value js_object, void** result);

#ifdef __cplusplus
}
#endif

#endif /* NAPI_NATIVE_API_H */
