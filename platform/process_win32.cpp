#include <stdlib.h>

#include <thread>

#include "platform/process.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include "platform/win32.h"

namespace platform {
namespace {

using win32::Handle;

// One argument quoted the way the C runtime splits a command line:
// backslashes are literal except before a quote.
std::wstring quoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring commandLine(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const auto& argument : argv) {
    if (!line.empty()) line += L' ';
    line += quoteArgument(utf8ToWide(argument));
  }
  return line;
}

// The current environment with `extra` added, as CreateProcessW's block:
// sorted, case-insensitive names, each "name=value\0", a final "\0".
std::wstring environmentBlock(const std::map<std::string, std::string>& extra) {
  std::map<std::wstring, std::wstring, bool (*)(const std::wstring&, const std::wstring&)> all(
      [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry && *entry; entry += wcslen(entry) + 1) {
    std::wstring text = entry;
    size_t eq = text.find(L'=', 1);  // names such as "=C:" start with '='
    if (eq != std::wstring::npos) all[text.substr(0, eq)] = text.substr(eq + 1);
  }
  if (strings) FreeEnvironmentStringsW(strings);
  for (const auto& [key, value] : extra) all[utf8ToWide(key)] = utf8ToWide(value);
  std::wstring block;
  for (const auto& [key, value] : all) block += key + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

struct Pipe {
  Handle read, write;
};

// A pipe whose writing end the child inherits.
bool makePipe(Pipe* pipe) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, &inherit, 0)) return false;
  pipe->read.reset(r);
  pipe->write.reset(w);
  return SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0) != 0;
}

// Keeps the system's reason for a failed start; false, for the caller to return.
bool startFailed(std::string& reason, DWORD error = GetLastError()) {
  reason = win32::errorText(error);
  return false;
}

void drain(HANDLE from, std::string* into) {
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(from, buf, sizeof buf, &got, nullptr) && got > 0) into->append(buf, got);
}

// Starts the program; its standard output and error go to the given
// handles (null: ours). Null when it could not be started; `failure` then
// holds the system's error number.
Handle spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
             const std::string& workingFolder, HANDLE out, HANDLE err, DWORD& failure, int* processId = nullptr) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out ? out : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = err ? err : GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = commandLine(argv);
  std::wstring block = environmentBlock(environment);
  std::wstring folder = utf8ToWide(workingFolder);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(utf8ToWide(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                      block.data(), folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    failure = GetLastError();
    return Handle();
  }
  CloseHandle(info.hThread);
  if (processId) *processId = static_cast<int>(info.dwProcessId);
  return Handle(info.hProcess);
}

int waitForExit(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return static_cast<int>(code & 0xFF);
}

}  // namespace

bool standardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

OutputDiversion::OutputDiversion(To to) {
  std::fflush(stdout);
  saved_ = _dup(1);
  int target = to == To::Error ? _dup(2) : _open("NUL", _O_WRONLY);
  if (saved_ >= 0 && target >= 0) _dup2(target, 1);
  if (target >= 0) _close(target);
}

OutputDiversion::~OutputDiversion() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  _dup2(saved_, 1);
  _close(saved_);
}

void OutputDiversion::writeOriginal(const std::string& text) {
  std::fflush(stdout);
  _write(saved_ >= 0 ? saved_ : 1, text.data(), static_cast<unsigned>(text.size()));
}

int terminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string executablePath() {
  std::wstring buffer(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return "";
  buffer.resize(length);
  return wideToUtf8(buffer);
}

std::string programFileName(const std::string& name) { return name + ".exe"; }

void keepNewFilesPrivate() {}

uint32_t inheritedCreationMask() { return 0; }

std::string executableFolder() {
  std::string path = executablePath();
  size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? "" : path.substr(0, separator + 1);
}

std::string currentFolder() {
  DWORD length = GetCurrentDirectoryW(0, nullptr);
  if (length == 0) return "";
  std::wstring buffer(length, L'\0');
  DWORD written = GetCurrentDirectoryW(length, buffer.data());
  if (written == 0 || written >= length) return "";
  buffer.resize(written);
  return wideToUtf8(buffer);
}

bool setCurrentFolder(const std::string& path) { return SetCurrentDirectoryW(utf8ToWide(path).c_str()) != 0; }

void ignoreBrokenPipeSignal() {}

std::string environmentVariable(const std::string& name) {
  const wchar_t* value = _wgetenv(utf8ToWide(name).c_str());
  return value ? wideToUtf8(value) : "";
}

void setEnvironmentVariable(const std::string& name, const std::string& value) {
  // _wputenv_s keeps the C runtime's copy and the system's in step.
  _wputenv_s(utf8ToWide(name).c_str(), utf8ToWide(value).c_str());
}

int processId() { return static_cast<int>(GetCurrentProcessId()); }

bool processAlive(int pid) {
  if (pid <= 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

bool runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                const std::string& workingFolder, ProcessResult* result) {
  *result = ProcessResult{};
  if (argv.empty()) return startFailed(result->startError, ERROR_INVALID_PARAMETER);
  Pipe out, err;
  if (!makePipe(&out) || !makePipe(&err)) return startFailed(result->startError);
  int pid = 0;
  DWORD failure = 0;
  Handle process = spawn(argv, environment, workingFolder, out.write.get(), err.write.get(), failure, &pid);
  if (!process.valid()) return startFailed(result->startError, failure);
  out.write.reset();
  err.write.reset();
  result->processId = pid;
  // Both pipes at once, or a child filling one would wait on us forever.
  std::thread errorReader(drain, err.read.get(), &result->standardError);
  drain(out.read.get(), &result->standardOutput);
  errorReader.join();
  result->exitCode = waitForExit(process.get());
  return true;
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         const std::string& workingFolder, bool) {
  startError_.clear();
  if (argv.empty() || process_) return startFailed(startError_, argv.empty() ? ERROR_INVALID_PARAMETER : ERROR_BUSY);
  Pipe out;
  if (!makePipe(&out)) return startFailed(startError_);
  DWORD failure = 0;
  Handle process = spawn(argv, environment, workingFolder, out.write.get(),
                         errorsWithOutput_ ? out.write.get() : nullptr, failure);
  if (!process.valid()) return startFailed(startError_, failure);
  process_ = process.release();
  output_ = out.read.release();
  return true;
}

bool ChildProcess::readLine(std::string& line, int timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending_.erase(0, end + 1);
      return true;
    }
    if (!output_) return false;
    // Anonymous pipes cannot wait with a time limit: look, then nap.
    DWORD available = 0;
    if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) {
      if (timeoutMs >= 0 && GetTickCount64() >= deadline) return false;
      Sleep(5);
      continue;
    }
    char buf[4096];
    DWORD got = 0;
    if (!ReadFile(output_, buf, sizeof buf, &got, nullptr) || got == 0) return false;
    pending_.append(buf, got);
  }
}

bool ChildProcess::running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

int ChildProcess::stop() {
  if (!process_) return -1;
  // Windows has no polite request to a console program without a console
  // of its own; it is ended outright and reported as killed.
  int code = -1;
  if (running()) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
  } else {
    code = waitForExit(process_);
  }
  CloseHandle(process_);
  process_ = nullptr;
  if (output_) CloseHandle(output_);
  output_ = nullptr;
  return code;
}

void ChildProcess::requestStop() {
  // No polite request here either (see stop()).
  if (process_ && running()) TerminateProcess(process_, 1);
}

int ChildProcess::wait() {
  if (!process_) return -1;
  int code = waitForExit(process_);
  CloseHandle(process_);
  process_ = nullptr;
  if (output_) CloseHandle(output_);
  output_ = nullptr;
  return code;
}

void ChildProcess::kill() {
  if (!process_) return;
  TerminateProcess(process_, 1);
  wait();
}

int ChildProcess::processId() const { return process_ ? static_cast<int>(GetProcessId(process_)) : 0; }

}  // namespace platform
