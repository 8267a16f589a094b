// Placeholder translation unit so the component library always has a source.
namespace platform {
int LayerVersion() { return 1; }
} // namespace platform
