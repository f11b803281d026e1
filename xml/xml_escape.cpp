// The choice of escaper kernel, made once, and the calls that go through
// it. The kernels sit in a file each around xml/escape_kernel.h.
#include "xml/xml_escape.h"

namespace ordil {

extern const EscapeKernel kPortableEscapeKernel;
#if defined(__SSE2__)
extern const EscapeKernel kSse2EscapeKernel;
extern const EscapeKernel kAvx2EscapeKernel;
#endif

std::vector<const EscapeKernel*> availableEscapeKernels() {
  std::vector<const EscapeKernel*> kernels;
  for (const EscapeKernel* kernel : {
           &kPortableEscapeKernel,
#if defined(__SSE2__)
           &kSse2EscapeKernel,
           &kAvx2EscapeKernel,
#endif
       }) {
    if (kernel->supported()) kernels.push_back(kernel);
  }
  return kernels;
}

namespace {

const EscapeKernel& widestKernel() {
#if defined(__SSE2__)
  if (kAvx2EscapeKernel.supported()) return kAvx2EscapeKernel;
  return kSse2EscapeKernel;
#else
  return kPortableEscapeKernel;
#endif
}

// The kernel every call uses, chosen at start-up; held whole rather than by
// pointer, so that a call costs one load before the jump. The kernels are
// constants, set before any code runs, so the choice may read them.
EscapeKernel active = widestKernel();

void appendEscaped(std::string_view utf8, bool attribute, std::string* out) {
  const size_t old = out->size();
  out->resize(old + maxEscapedSize(utf8.size()));
  char* const at = out->data() + old;
  char* const end = attribute ? active.attribute(utf8, nullptr, at) : active.text(utf8, nullptr, at);
  out->resize(static_cast<size_t>(end - out->data()));
}

}  // namespace

EscapeKernel useEscapeKernelForTesting(const EscapeKernel& kernel) {
  const EscapeKernel before = active;
  active = kernel;
  return before;
}

char* escapeTextValueTo(std::string_view field, const char* readable, char* out) {
  return active.textValue(field, readable, out);
}

char* escapeAttributeValueTo(std::string_view field, const char* readable, char* out) {
  return active.attributeValue(field, readable, out);
}

void appendEscapedText(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, false, out);
}

void appendEscapedAttribute(std::string_view utf8, std::string* out) {
  appendEscaped(utf8, true, out);
}

}  // namespace ordil
