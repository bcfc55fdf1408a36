// Version of the program, as its version resource gives it.
namespace quillon {
const char* ProgramVersion() {
  return QUILLON_VERSION;
}
}  // namespace quillon
