/**
 * libnativerender.so: the native video renderer.
 *
 * The module gives ArkTS nothing to call. ArkUI loads it for every
 * XComponent whose `libraryname` is `'nativerender'` and hands it the
 * component; from then on the component's surface drives a renderer kept
 * under the component's `id`, and the app's media engine (a native library
 * of its own, built against this package's include/) draws into it by that
 * id through the module's C++ interface:
 *
 * ```ts
 * XComponent({ id: 'video1', type: XComponentType.SURFACE, libraryname: 'nativerender' })
 * ```
 *
 * Importing the library (`import nativerender from 'libnativerender.so'`)
 * yields an object with no members. The types below only name what an
 * XComponent declaration passes.
 */

/** The `libraryname` of an XComponent drawn by this module. */
export type LibraryName = 'nativerender';

/**
 * An XComponent id: the key under which the engine finds the surface's
 * renderer. At most 128 characters; give each surface its own.
 */
export type SurfaceId = string;
