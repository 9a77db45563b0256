// The module's translation units join this library as they are written:
// the renderer registry and module entry, the renderers, the drawing core and
// the log sink. The library already links the runtime and the platform so
// that its link line and export rules are settled from the start.
