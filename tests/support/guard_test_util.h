#pragma once
// Temporary folders and small file helpers for the guard and list tests. Every test works
// in a folder of its own under $TMPDIR (or /tmp), removed afterwards; VELLUMGUARD_HOME
// points at a fresh subfolder so the program folder is private too.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// A fixture with a temporary folder and a private program folder.
class GuardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Dir() const { return m_dir->Path(); }
  std::string P(const std::string& name) const { return *m_dir / name; }
  std::string Home() const { return m_home; }

  std::unique_ptr<TempFolder> m_dir;
  std::string m_home;
  std::string m_oldHome;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
bool Exists(const std::string& path);  // anything at path, links not followed
void MakeFolder(const std::string& path);
// Names in folder (not "." and ".."), sorted.
std::vector<std::string> ListNames(const std::string& folder);
// Names of temporary files of crash-safe writes in folder.
std::vector<std::string> TempNames(const std::string& folder);
// Deterministic contents: text-like (compressible) or random (incompressible).
std::vector<uint8_t> TextLike(size_t n, uint32_t seed = 1);
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 1);
// The key digest of a password.
std::vector<uint8_t> KeyOf(const std::string& password);
// Restores protectedPath into scratch with key and returns the plain bytes, or nothing
// with ok = false (the protected file is only read).
std::vector<uint8_t> DecodeToMemory(const std::string& protectedPath, const std::string& password,
                                    const std::string& scratch, bool& ok);
// Runs fn in a forked child and returns its exit status (exit code, or 128 + signal).
int RunInChild(const std::function<int()>& fn);
