// A plain library: one function and no self-registration.
extern "C" __attribute__((visibility("default"))) int PlainAnswer() { return 42; }
