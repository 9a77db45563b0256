/**
 * The sample's engine (libengine.so, src/main/cpp/engine.cpp).
 */

/**
 * Starts drawing a moving test picture into the renderer of the XComponent
 * `id` (its libraryname 'nativerender'), on a thread of the engine's own.
 * False when the id has no renderer yet (call it from the component's
 * onLoad) or the engine already draws into it.
 */
export const start: (id: string) => boolean;

/** Stops drawing into `id`'s renderer, and waits for the thread. */
export const stop: (id: string) => void;
