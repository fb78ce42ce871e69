// AES-128-CBC throughput on 1 MiB buffers: our table path and AES-NI path
// beside OpenSSL's EVP with and without AES-NI; and MMer_Encode on 16 MiB
// through Python beside the raw C++ call underneath it. One run prints all.
//
// OpenSSL reads OPENSSL_ia32cap once, when it loads, so its no-AES-NI figure
// comes from a child process of this same program started with that variable
// set. The child times each pass itself and reports it over a pipe; the parent
// records those times as manual iteration times.
//
// Every cipher pass, here and in the child, is timed on the CPU clock of the
// thread that runs it. On wall time a loaded machine favoured the child: it
// wakes for each pass and usually finishes it unpreempted, while the parent's
// back-to-back passes took the preemptions (14 ms of wall time for 3 ms of CPU
// time per table-path pass beside 3.2 ms for the child's).
#include "python/python_compat.h"
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/rijndael_cipher.h"

namespace {

constexpr size_t kCipherBytes = 1 << 20;
constexpr size_t kEncodeBytes = 16 << 20;
constexpr char kNoAesNiServer[] = "--openssl-no-aes-ni-server";
// OpenSSL's capability mask: clear AES-NI (bit 57) and PCLMULQDQ (bit 33).
constexpr char kNoAesNiMask[] = "~0x200000200000000";

const unsigned char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const unsigned char kVector[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<unsigned char> Filled(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + 7);
  return bytes;
}

// --- our cipher ------------------------------------------------------------

std::unique_ptr<device::RijndaelCipher> Aes128Cbc(bool table) {
  if (table) setenv("DEVICE_CIPHER_PATH", "table", 1);
  auto cipher = std::make_unique<device::RijndaelCipher>(1);
  unsetenv("DEVICE_CIPHER_PATH");
  cipher->SetKey(kKey, 128);
  cipher->SetIV(kVector);
  return cipher;
}

void OurCbc(benchmark::State& state, bool table, bool encrypt) {
  auto cipher = Aes128Cbc(table);
  if (!table && !cipher->UsesAesNi()) {
    state.SkipWithError("the processor has no AES-NI");
    return;
  }
  const std::vector<unsigned char> in = Filled(kCipherBytes);
  std::vector<unsigned char> out(kCipherBytes);
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    if (encrypt) {
      cipher->Encrypt(in.data(), out.data(), kCipherBytes);
    } else {
      cipher->Decrypt(in.data(), out.data(), kCipherBytes);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    state.SetIterationTime(ThreadCpuSeconds() - start);
  }
  state.SetBytesProcessed(state.iterations() * kCipherBytes);
}

// --- OpenSSL ---------------------------------------------------------------

struct EvpCbc {
  explicit EvpCbc(bool encrypt) : context(EVP_CIPHER_CTX_new()), in(Filled(kCipherBytes)), out(kCipherBytes + 16) {
    EVP_CipherInit_ex(context, EVP_aes_128_cbc(), nullptr, kKey, kVector, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
  }
  ~EvpCbc() { EVP_CIPHER_CTX_free(context); }
  // One pass, restarted from the vector as our cipher restarts.
  void Pass() {
    int written = 0;
    EVP_CipherInit_ex(context, nullptr, nullptr, nullptr, kVector, -1);
    EVP_CipherUpdate(context, out.data(), &written, in.data(), static_cast<int>(in.size()));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX* context;
  std::vector<unsigned char> in;
  std::vector<unsigned char> out;
};

void OpenSslCbc(benchmark::State& state, bool encrypt) {
  EvpCbc evp(encrypt);
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    evp.Pass();
    state.SetIterationTime(ThreadCpuSeconds() - start);
  }
  state.SetBytesProcessed(state.iterations() * kCipherBytes);
}

// The child: for each command byte ('e' or 'd') one timed pass, answered with
// its duration in seconds as a double. Ends at end of input.
int ServeNoAesNi() {
  EvpCbc encrypt(true);
  EvpCbc decrypt(false);
  char command;
  while (read(STDIN_FILENO, &command, 1) == 1) {
    EvpCbc& evp = command == 'e' ? encrypt : decrypt;
    const double start = ThreadCpuSeconds();
    evp.Pass();
    const double seconds = ThreadCpuSeconds() - start;
    if (write(STDOUT_FILENO, &seconds, sizeof seconds) != sizeof seconds) return 1;
  }
  return 0;
}

struct Child {
  pid_t pid = -1;
  int to = -1;
  int from = -1;
};

Child StartNoAesNiChild() {
  int down[2];
  int up[2];
  Child child;
  if (pipe(down) != 0 || pipe(up) != 0) return child;
  child.pid = fork();
  if (child.pid == 0) {
    dup2(down[0], STDIN_FILENO);
    dup2(up[1], STDOUT_FILENO);
    close(down[0]); close(down[1]); close(up[0]); close(up[1]);
    setenv("OPENSSL_ia32cap", kNoAesNiMask, 1);
    execl("/proc/self/exe", "crypto_bench", kNoAesNiServer, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(down[0]);
  close(up[1]);
  child.to = down[1];
  child.from = up[0];
  return child;
}

Child no_aes_ni_child;

void OpenSslNoAesNiCbc(benchmark::State& state, bool encrypt) {
  const char command = encrypt ? 'e' : 'd';
  for (auto _ : state) {
    double seconds = 0;
    if (write(no_aes_ni_child.to, &command, 1) != 1 ||
        read(no_aes_ni_child.from, &seconds, sizeof seconds) != sizeof seconds) {
      state.SkipWithError("the OpenSSL child without AES-NI does not answer");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(state.iterations() * kCipherBytes);
}

// --- MMer_Encode through Python, and the raw call ---------------------------

PyObject* python_encode = nullptr;

bool StartPython() {
  Py_Initialize();
  const std::string setup =
      "import _Device\n"
      "mmer = _Device.new_MMer()\n"
      "_Device.MMer_SetParam(mmer, (b'" + std::string(16, 'k') + "', b'" + std::string(16, 'v') + "'))\n"
      "data = b'x' * " + std::to_string(kEncodeBytes) + "\n"
      "def encode():\n"
      "    return _Device.MMer_Encode(mmer, data)\n";
  if (PyRun_SimpleString(setup.c_str()) != 0) return false;
  python_encode = PyObject_GetAttrString(PyImport_AddModule("__main__"), "encode");
  return python_encode != nullptr;
}

void MMerEncodeThroughPython(benchmark::State& state) {
  if (python_encode == nullptr) {
    state.SkipWithError("_Device does not import (PYTHONPATH?)");
    return;
  }
  for (auto _ : state) {
    PyObject* result = PyObject_CallObject(python_encode, nullptr);
    if (result == nullptr) {
      PyErr_Print();
      state.SkipWithError("MMer_Encode raised");
      break;
    }
    Py_DECREF(result);
  }
  state.SetBytesProcessed(state.iterations() * kEncodeBytes);
}

void MMerEncodeRawCall(benchmark::State& state) {
  device::RijndaelCipher cipher(1);
  const std::string key(16, 'k');
  const std::string vector(16, 'v');
  cipher.SetKey(reinterpret_cast<const BYTE*>(key.data()), 128);
  cipher.SetIV(reinterpret_cast<const BYTE*>(vector.data()));
  const std::vector<unsigned char> in(kEncodeBytes, 'x');
  std::vector<unsigned char> out(kEncodeBytes);
  for (auto _ : state) {
    cipher.Encrypt(in.data(), out.data(), kEncodeBytes);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kEncodeBytes);
}

// --- the summary -------------------------------------------------------------

// Keeps each run's throughput for the summary, in MB/s (10^6 bytes).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.real_accumulated_time <= 0) continue;
      const std::string& name = run.run_name.function_name;
      const double bytes = name.rfind("MMer_Encode", 0) == 0 ? kEncodeBytes : kCipherBytes;
      mb_per_second[name] = bytes * static_cast<double>(run.iterations) / run.real_accumulated_time / 1e6;
    }
  }
  std::map<std::string, double> mb_per_second;
};

void PrintSummary(const std::map<std::string, double>& mb) {
  auto figure = [&](const std::string& name) {
    auto it = mb.find(name);
    return it == mb.end() ? 0.0 : it->second;
  };
  std::printf("\nAES-128-CBC on 1 MiB, MB/s of thread CPU time (10^6 bytes per second)\n");
  std::printf("  %-10s %10s %10s %14s %14s\n", "", "table", "AES-NI", "OpenSSL", "OpenSSL no-NI");
  for (const char* direction : {"encrypt", "decrypt"}) {
    const std::string d = direction;
    std::printf("  %-10s %10.0f %10.0f %14.0f %14.0f\n", direction, figure("AES-128-CBC/" + d + "/table"),
                figure("AES-128-CBC/" + d + "/aes-ni"), figure("AES-128-CBC/" + d + "/openssl-evp"),
                figure("AES-128-CBC/" + d + "/openssl-evp-no-aes-ni"));
  }
  auto ratio = [&](const std::string& ours, const std::string& theirs) {
    const double t = figure(theirs);
    return t > 0 ? figure(ours) / t : 0.0;
  };
  std::printf("  table / OpenSSL no-NI:   encrypt %.2fx, decrypt %.2fx (target >= 1)\n",
              ratio("AES-128-CBC/encrypt/table", "AES-128-CBC/encrypt/openssl-evp-no-aes-ni"),
              ratio("AES-128-CBC/decrypt/table", "AES-128-CBC/decrypt/openssl-evp-no-aes-ni"));
  std::printf("  AES-NI / OpenSSL:        encrypt %.2fx (target >= 0.9), decrypt %.2fx (target >= 0.5)\n",
              ratio("AES-128-CBC/encrypt/aes-ni", "AES-128-CBC/encrypt/openssl-evp"),
              ratio("AES-128-CBC/decrypt/aes-ni", "AES-128-CBC/decrypt/openssl-evp"));
  const double python = figure("MMer_Encode/16MiB/python");
  const double raw = figure("MMer_Encode/16MiB/raw-cxx");
  std::printf("\nMMer_Encode on 16 MiB: through Python %.0f MB/s, raw C++ call %.0f MB/s\n", python, raw);
  std::printf("  Python time / raw time: %.3fx (target <= 1.15)\n", python > 0 ? raw / python : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], kNoAesNiServer) == 0) return ServeNoAesNi();

  no_aes_ni_child = StartNoAesNiChild();
  const bool python = StartPython();
  for (bool encrypt : {true, false}) {
    const std::string prefix = std::string("AES-128-CBC/") + (encrypt ? "encrypt" : "decrypt");
    benchmark::RegisterBenchmark((prefix + "/table").c_str(), OurCbc, true, encrypt)->UseManualTime();
    benchmark::RegisterBenchmark((prefix + "/aes-ni").c_str(), OurCbc, false, encrypt)->UseManualTime();
    benchmark::RegisterBenchmark((prefix + "/openssl-evp").c_str(), OpenSslCbc, encrypt)->UseManualTime();
    benchmark::RegisterBenchmark((prefix + "/openssl-evp-no-aes-ni").c_str(), OpenSslNoAesNiCbc, encrypt)
        ->UseManualTime();
  }
  benchmark::RegisterBenchmark("MMer_Encode/16MiB/python", MMerEncodeThroughPython)->UseRealTime();
  benchmark::RegisterBenchmark("MMer_Encode/16MiB/raw-cxx", MMerEncodeRawCall)->UseRealTime();

  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter.mb_per_second);

  close(no_aes_ni_child.to);
  close(no_aes_ni_child.from);
  if (no_aes_ni_child.pid > 0) waitpid(no_aes_ni_child.pid, nullptr, 0);
  if (python) {
    Py_DECREF(python_encode);
    PyRun_SimpleString("_Device.delete_MMer(mmer)\n");
    Py_Finalize();
  }
  benchmark::Shutdown();
  return 0;
}
