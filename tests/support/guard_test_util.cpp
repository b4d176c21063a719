#include "guard_test_util.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "common/safe_file.h"
#include "engine/digest.h"
#include "engine/file_codec.h"

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/vgtest.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) ADD_FAILURE() << "mkdtemp failed";
  m_path = buf.data();
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

void GuardTest::SetUp() {
  m_dir = std::make_unique<TempFolder>();
  const char* old = std::getenv("VELLUMGUARD_HOME");
  m_oldHome = old ? old : "";
  m_home = m_dir->Path() + "/.home";
  MakeFolder(m_home);
  ::setenv("VELLUMGUARD_HOME", m_home.c_str(), 1);
}

void GuardTest::TearDown() {
  if (m_oldHome.empty())
    ::unsetenv("VELLUMGUARD_HOME");
  else
    ::setenv("VELLUMGUARD_HOME", m_oldHome.c_str(), 1);
  m_dir.reset();
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  const auto b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void MakeFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

std::vector<std::string> ListNames(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> TempNames(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& n : ListNames(folder)) {
    if (IsTempName(n)) out.push_back(n);
  }
  return out;
}

std::vector<uint8_t> TextLike(size_t n, uint32_t seed) {
  static const char* words[] = {"guard ",  "list ",    "protect ", "the ",  "file ",
                                "folder ", "restore ", "and ",     "key\n", "of "};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(n);
  while (out.size() < n) {
    const char* w = words[rng() % 10];
    for (const char* p = w; *p && out.size() < n; ++p) out.push_back(static_cast<uint8_t>(*p));
  }
  return out;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<uint8_t> KeyOf(const std::string& password) {
  std::vector<uint8_t> key(32);
  GuardKeyDigest(key.data(), password);
  return key;
}

std::vector<uint8_t> DecodeToMemory(const std::string& protectedPath, const std::string& password,
                                    const std::string& scratch, bool& ok) {
  CFileCodec codec;
  codec.m_bufferSize = 1024;
  codec.m_usePasswordText = 0;
  GuardKeyDigest(codec.m_keyDigest, password);
  codec.m_source = protectedPath;
  codec.m_destination = scratch;
  ok = codec.Decode() == CODEC_OK;
  std::vector<uint8_t> out = ok ? ReadBytes(scratch) : std::vector<uint8_t>();
  ::unlink(scratch.c_str());
  return out;
}

int RunInChild(const std::function<int()>& fn) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return -1;
  }
  if (pid == 0) ::_exit(fn());
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
