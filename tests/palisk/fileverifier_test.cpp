// Kit verification with kits from the kit tool, under Wine: good kits pass file by file,
// everything the verifier must refuse is refused.
#include "installer/palisk/fileverifier.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "installer/palisk/authenticode_hash.h"
#include "installer/palisk/catalog_reader.h"
#include "installer/palisk/distinguished_name.h"
#include "installer/palisk/read_behind_digest.h"
#include "support/test_support.h"

namespace {

using testing_support::BuildFolder;
using testing_support::CopyFileTo;
using testing_support::ScopedTempFolder;
using testing_support::Utf8ToWide;
using testing_support::WriteTextFile;

// A working folder as Palisk leaves it after the downloads: kit.cat at the top, the win32
// kit's files below "x86".
class StagedKit {
 public:
  explicit StagedKit(const char* kit) {
    const std::wstring source = BuildFolder() + L"\\testdata\\kits\\" + Utf8ToWide(kit) + L"\\kits\\1.0.0\\win32\\";
    ok_ = CopyFileTo(source + L"kit.cat", Path(L"kit.cat")) &&
          CopyFileTo(source + L"Installer.exe", Path(L"x86\\Installer.exe")) &&
          CopyFileTo(source + L"readme.txt", Path(L"x86\\readme.txt")) &&
          CopyFileTo(source + L"sub\\Data.Bin", Path(L"x86\\sub\\Data.Bin")) &&
          CopyFileTo(source + L"data.xml", Path(L"data.xml"));
  }
  bool Ok() const { return ok_; }
  std::wstring Path(const wchar_t* relative) const { return folder_.Path() + L"\\" + relative; }

 private:
  ScopedTempFolder folder_;
  bool ok_ = false;
};

void FlipByte(const std::wstring& path, long offset) {
  std::fstream file(testing_support::WideToUtf8(path), std::ios::in | std::ios::out | std::ios::binary);
  file.seekg(offset);
  char c = 0;
  file.read(&c, 1);
  c = static_cast<char>(c ^ 0x5A);
  file.seekp(offset);
  file.write(&c, 1);
}

// Both tag forms: with the terminating NUL (as Windows' catalog tools write it) and without.
class TagForms : public testing::TestWithParam<const char*> {};

TEST_P(TagForms, GoodKitVerifiesFileByFile) {
  StagedKit kit(GetParam());
  ASSERT_TRUE(kit.Ok()) << "run the prepare_test_kits fixture first";
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.CatalogSupported());
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_TRUE(verifier.CatalogLoaded());
  EXPECT_EQ(3u, verifier.MemberCount());
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\Installer.exe")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\sub\\Data.Bin")));
}

TEST_P(TagForms, MembersAreReadWithTheirNamesAndBareTags) {
  StagedKit kit(GetParam());
  std::vector<palisk::CatalogEntry> entries;
  ASSERT_EQ(0u, palisk::ReadCatalogEntries(kit.Path(L"kit.cat"), entries));
  std::set<std::wstring> names;
  for (const palisk::CatalogEntry& entry : entries) {
    names.insert(entry.fileName);
    EXPECT_EQ(64u, entry.tag.size()) << "no terminator kept";
    EXPECT_EQ(std::wstring::npos, entry.tag.find(L'\0'));
  }
  EXPECT_EQ((std::set<std::wstring>{L"x86\\Installer.exe", L"x86\\readme.txt", L"x86\\sub\\Data.Bin"}), names);
}

INSTANTIATE_TEST_SUITE_P(Kits, TagForms, testing::Values("good", "tags-without-nul"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "good" ? std::string("WithTerminator")
                                                                    : std::string("WithoutTerminator");
                         });

// A member with no "File" name cannot be matched to a file: that file is refused, the
// others still pass.
TEST(FileVerifier, MemberWithoutAFileNameLeavesItsFileRefused) {
  StagedKit kit("no-file-name");
  ASSERT_TRUE(kit.Ok());
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_EQ(2u, verifier.MemberCount());
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\Installer.exe")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\sub\\Data.Bin")));
}

TEST(FileVerifier, MixedCasePathsFindTheirMember) {
  StagedKit kit("good");
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"KIT.CAT")));
  std::wstring upper = kit.Path(L"x86\\SUB\\data.bin");
  EXPECT_TRUE(verifier.ValidateFile(upper));
}

TEST(FileVerifier, OneChangedByteIsRefused) {
  StagedKit kit("good");
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  FlipByte(kit.Path(L"x86\\readme.txt"), 3);
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  FlipByte(kit.Path(L"x86\\Installer.exe"), 0x2000);
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\Installer.exe")));
}

TEST(FileVerifier, FileCheckedBeforeTheCatalogIsRefused) {
  StagedKit kit("good");
  CFileVerifier verifier;
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
}

TEST(FileVerifier, FileNotInTheCatalogOrMissing) {
  StagedKit kit("good");
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  ASSERT_TRUE(WriteTextFile(kit.Path(L"x86\\extra.txt"), "not in the catalog"));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\extra.txt")));
  ASSERT_TRUE(DeleteFileW(kit.Path(L"x86\\readme.txt").c_str()));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt"))) << "a listed file that is not there";
}

// Where the system has no SHA-256 catalog functions (Windows 7 without its update), the
// program's own catalog reading and hashing judge the kit: nothing is waved through.
CatalogApi NoCatalogApi() { return CatalogApi(); }

TEST(FileVerifier, WithoutTheCatalogApiTheProgramsOwnVerificationDecides) {
  StagedKit kit("good");
  CFileVerifier verifier(&NoCatalogApi);
  EXPECT_FALSE(verifier.CatalogSupported());
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt"))) << "before the catalog";
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\Installer.exe")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\sub\\Data.Bin")));
  FlipByte(kit.Path(L"x86\\readme.txt"), 3);
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt"))) << "altered";
  ASSERT_TRUE(WriteTextFile(kit.Path(L"x86\\extra.txt"), "not in the catalog"));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\extra.txt"))) << "unlisted";
  StagedKit altered("catalog-altered");
  CFileVerifier another(&NoCatalogApi);
  EXPECT_FALSE(another.ValidateFile(altered.Path(L"kit.cat")));
}

// A held file cannot be written, renamed or deleted, by this process or any other.
TEST(FileVerifier, HeldFileDeniesWritersRenamesAndDeletes) {
  StagedKit kit("good");
  const std::wstring path = kit.Path(L"x86\\readme.txt");
  {
    palisk::HeldFile held;
    ASSERT_EQ(0u, held.Open(path));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".moved").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    CFileVerifier verifier;
    ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
    EXPECT_TRUE(verifier.ValidateFile(held)) << "readers may still share it";
    char bytes[64];
    uint32_t read = 0;
    ASSERT_TRUE(held.ReadAt(7, bytes, sizeof bytes, read));
    EXPECT_EQ("Endpoint Security\r\n", std::string(bytes, read));
  }
  EXPECT_TRUE(DeleteFileW(path.c_str())) << "let go with its holder";
}

TEST(FileVerifier, DescriptorsAreExemptInTheDescriptorFolderOnly) {
  ScopedTempFolder folder;
  ASSERT_TRUE(WriteTextFile(folder.Path() + L"\\Data.XML", "<root/>"));
  ASSERT_TRUE(WriteTextFile(folder.Path() + L"\\installer.xml", "<config/>"));
  ASSERT_TRUE(WriteTextFile(folder.Path() + L"\\deep\\installer.xml", "<config/>"));
  CFileVerifier verifier;
  EXPECT_FALSE(verifier.ValidateFile(folder.Path() + L"\\Data.XML")) << "no descriptor folder set";
  verifier.SetDescriptorFolder(folder.Path() + L"\\");
  EXPECT_TRUE(verifier.ValidateFile(folder.Path() + L"\\Data.XML")) << "any letter case";
  EXPECT_TRUE(verifier.ValidateFile(folder.Path() + L"\\installer.xml"));
  EXPECT_FALSE(verifier.ValidateFile(folder.Path() + L"\\deep\\installer.xml")) << "below it: a kit file";
}

// A kit that lists "x86\installer.xml" or "sub\data.xml": with the catalog loaded, such files
// are verified like any other and refused when the catalog does not list them.
TEST(FileVerifier, KitEntriesNamedLikeDescriptorsAreVerified) {
  StagedKit kit("good");
  CFileVerifier verifier;
  verifier.SetDescriptorFolder(kit.Path(L""));
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  ASSERT_TRUE(WriteTextFile(kit.Path(L"x86\\installer.xml"), "<config><downloadUrl>http://evil/</downloadUrl></config>"));
  ASSERT_TRUE(WriteTextFile(kit.Path(L"x86\\sub\\data.xml"), "<root/>"));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\installer.xml")));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\sub\\data.xml")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"data.xml"))) << "the kit's own descriptor";
}

class RefusedCatalog : public testing::TestWithParam<const char*> {};

TEST_P(RefusedCatalog, IsNotLoadedAndItsFilesAreRefused) {
  StagedKit kit(GetParam());
  ASSERT_TRUE(kit.Ok());
  CFileVerifier verifier;
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_FALSE(verifier.CatalogLoaded());
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
}

INSTANTIATE_TEST_SUITE_P(Kits, RefusedCatalog,
                         testing::Values("unsigned-catalog", "o-different", "cn-different", "expired", "untrusted",
                                         "denied", "catalog-altered"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

TEST(CatalogReader, DerHeaderMustDescribeExactlyTheContent) {
  using palisk::DerHeaderLength;
  EXPECT_EQ(2u, DerHeaderLength(std::string("\x30\x03" "abc", 5)));
  EXPECT_EQ(4u, DerHeaderLength(std::string("\x30\x82\x01\x00", 4) + std::string(256, 'x')));
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30\x05" "abc", 5))) << "runs past the end";
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30\x01" "abc", 5))) << "stops short";
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30\x84\xFF", 3))) << "length octets missing";
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30\x80" "abc\0\0", 7))) << "indefinite length";
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30\x89", 2) + std::string(9, '\xFF'))) << "more octets than fit";
  EXPECT_EQ(0u, DerHeaderLength(std::string("\x30", 1)));
}

TEST(CatalogReader, SignedContentMustBeTheContentCarried) {
  StagedKit good("good"), altered("catalog-altered"), unsigned_("unsigned-catalog");
  EXPECT_TRUE(palisk::CatalogContentMatchesSignature(good.Path(L"kit.cat")));
  EXPECT_FALSE(palisk::CatalogContentMatchesSignature(altered.Path(L"kit.cat")));
  EXPECT_FALSE(palisk::CatalogContentMatchesSignature(unsigned_.Path(L"kit.cat")));
  // The altered catalog still opens and lists its members: only the digest check refuses it.
  std::vector<palisk::CatalogEntry> entries;
  ASSERT_EQ(0u, palisk::ReadCatalogEntries(altered.Path(L"kit.cat"), entries));
  EXPECT_EQ(3u, entries.size());
}

TEST(FileVerifier, Sha1MemberIsNotEnteredSoItsFileIsRefused) {
  StagedKit kit("sha1-member");
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_EQ(2u, verifier.MemberCount());
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\Installer.exe")));
}

TEST(FileVerifier, WrongDigestIsRefused) {
  StagedKit kit("wrong-digest");
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  EXPECT_FALSE(verifier.ValidateFile(kit.Path(L"x86\\readme.txt")));
  EXPECT_TRUE(verifier.ValidateFile(kit.Path(L"x86\\sub\\Data.Bin")));
}

TEST(FileVerifier, DigestsAreTheCatalogsDigests) {
  std::ifstream in(testing_support::WideToUtf8(BuildFolder() + L"\\testdata\\kits\\kits.json"));
  const nlohmann::json kits = nlohmann::json::parse(in, nullptr, false);
  ASSERT_FALSE(kits.is_discarded());
  StagedKit kit("good");
  CFileVerifier verifier;
  std::wstring hex;
  ASSERT_EQ(0u, verifier.CalcFileHash(kit.Path(L"x86\\Installer.exe"), hex));
  EXPECT_EQ(Utf8ToWide(kits["good"]["members"]["x86\\Installer.exe"].get<std::string>()), hex);
  ASSERT_EQ(0u, verifier.CalcFileHash(kit.Path(L"x86\\readme.txt"), hex));
  EXPECT_EQ(Utf8ToWide(kits["good"]["members"]["x86\\readme.txt"].get<std::string>()), hex);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), verifier.CalcFileHash(kit.Path(L"absent"), hex));
}

// The hash fallback skips a certificate table only where a signed image keeps it: at its end,
// 8-byte aligned, after the last section's raw data.
class ImageHash : public testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(testing_support::WideToUtf8(BuildFolder() + L"\\testdata\\kits\\kits.json"));
    kits_ = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(kits_.is_discarded());
    unsigned_ = testing_support::ReadBinaryFile(BuildFolder() + L"\\testdata\\kits\\unsigned\\Installer.exe");
    signed_ = testing_support::ReadBinaryFile(kit_.Path(L"x86\\Installer.exe"));
    ASSERT_FALSE(unsigned_.empty());
    ASSERT_FALSE(signed_.empty());
  }
  // The digest of `image`, or its error (0 and the hex on success).
  uint32_t Hash(const std::string& image, std::wstring& hex) {
    const std::wstring path = folder_.Make(L"image" + std::to_wstring(++count_) + L".exe");
    std::ofstream(testing_support::WideToUtf8(path), std::ios::binary).write(image.data(), image.size());
    return verifier_.CalcFileHash(path, hex);
  }
  static size_t CertificateEntry(const std::string& image) {
    uint32_t pe = 0;
    std::memcpy(&pe, &image[0x3C], 4);
    const uint16_t magic = static_cast<uint16_t>(static_cast<uint8_t>(image[pe + 24]) | image[pe + 25] << 8);
    return pe + 24 + (magic == 0x10B ? 96 : 112) + 4 * 8;
  }
  static std::string Declare(std::string image, uint32_t offset, uint32_t size) {
    const size_t entry = CertificateEntry(image);
    std::memcpy(&image[entry], &offset, 4);
    std::memcpy(&image[entry + 4], &size, 4);
    return image;
  }

  nlohmann::json kits_;
  StagedKit kit_{"good"};
  ScopedTempFolder folder_;
  CFileVerifier verifier_;
  std::string unsigned_, signed_;
  int count_ = 0;
};

TEST_F(ImageHash, GenuineImagesHashAsTheKitToolHashesThem) {
  std::wstring hex;
  ASSERT_EQ(0u, Hash(signed_, hex));
  EXPECT_EQ(Utf8ToWide(kits_["good"]["members"]["x86\\Installer.exe"].get<std::string>()), hex);
  ASSERT_EQ(0u, Hash(unsigned_, hex));
  EXPECT_EQ(Utf8ToWide(kits_["unsigned-pe"]["digest"].get<std::string>()), hex) << "padded to a multiple of 8";
}

TEST_F(ImageHash, TableDeclaredAnywhereButAtTheEndIsRefused) {
  // A block inserted inside the image and declared its table.
  const std::string original = unsigned_.substr(0, unsigned_.size() / 8 * 8);
  const uint32_t middle = static_cast<uint32_t>(original.size() / 2 / 8 * 8);
  const std::string block(64, '\xCC');
  const std::string inserted = Declare(original.substr(0, middle) + block + original.substr(middle), middle, 64);
  std::wstring hex;
  EXPECT_EQ(static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT), Hash(inserted, hex));
  EXPECT_TRUE(hex.empty());

  // At the end but not 8-byte aligned; and at 8-byte alignment but not ending the file.
  const std::string unaligned = Declare(original + "abc" + block, static_cast<uint32_t>(original.size() + 3), 64);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT), Hash(unaligned, hex));
  const std::string trailing = Declare(original + block + "tail", static_cast<uint32_t>(original.size()), 64);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT), Hash(trailing, hex));
  // A signed image with bytes after its table.
  EXPECT_EQ(static_cast<uint32_t>(ERROR_BAD_EXE_FORMAT), Hash(signed_ + std::string(8, '\0'), hex));
}

// The digest of `image` hashed from the disk while it is written in uneven pieces, after a
// first try that was emptied half-way, or its error.
uint32_t HashWhileWriting(const std::wstring& path, const std::string& image, std::wstring& hex) {
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (writer == INVALID_HANDLE_VALUE) return GetLastError();
  palisk::ReadBehindDigest reader;
  uint32_t result = reader.Start(path);
  uint64_t written = 0;
  const auto write = [&](size_t from, size_t size) {
    DWORD done = 0;
    WriteFile(writer, image.data() + from, static_cast<DWORD>(size), &done, nullptr);
    written += done;
    reader.Landed(written);
  };
  for (size_t at = 0; result == 0 && at < image.size() / 2; at += 70001) write(at, std::min<size_t>(70001, image.size() / 2 - at));
  SetFilePointer(writer, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(writer);
  written = 0;
  reader.Emptied();
  for (size_t at = 0, piece = 1; result == 0 && at < image.size(); at += piece, piece = piece * 3 + 17) {
    write(at, std::min(piece, image.size() - at));
  }
  CloseHandle(writer);
  std::vector<uint8_t> digest;
  if (result == 0) result = reader.Finish(written, digest);
  hex = palisk::LowerHex(digest.data(), digest.size());
  return result;
}

TEST_F(ImageHash, FilesHashedWhileTheyAreWrittenHashAsTheWholeFile) {
  const std::string original = unsigned_.substr(0, unsigned_.size() / 8 * 8);
  const std::string block(64, '\xCC');
  const std::string refused = Declare(original + block + "tail", static_cast<uint32_t>(original.size()), 64);
  // Small files are hashed at the end, larger ones by the thread while they are written.
  for (const std::string& bytes : {signed_, unsigned_, refused, std::string(), std::string("MZ"),
                                   std::string(300001, 'z'), unsigned_ + std::string(3 << 20, '\x5A'),
                                   refused + std::string(3 << 20, 'z')}) {
    std::wstring whole, landed;
    const uint32_t expected = Hash(bytes, whole);
    const std::wstring path = folder_.Make(L"landing" + std::to_wstring(++count_) + L".exe");
    EXPECT_EQ(expected, HashWhileWriting(path, bytes, landed)) << bytes.size();
    EXPECT_EQ(whole, landed) << bytes.size();
  }
}

// Stopped half-way (the download was cancelled or failed), the thread ends and lets go of the file.
TEST_F(ImageHash, StoppedHashingLetsGoOfTheFile) {
  const std::wstring path = folder_.Make(L"stopped.bin");
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  {
    palisk::ReadBehindDigest reader;
    ASSERT_EQ(0u, reader.Start(path));
    DWORD done = 0;
    const std::string bytes(3 << 20, 'x');  // enough for the thread to start
    WriteFile(writer, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    reader.Landed(done);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr))
        << "no other writer while the download's own is open";
  }
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// The attack itself: a kit whose installer is an unsigned image; the same image with a block
// inserted and declared its certificate table (and the zeros its digest is padded with added)
// would have the catalog's digest if the table were skipped wherever it is declared.
TEST_F(ImageHash, InsertedBlockCannotRideOnTheCatalogsDigest) {
  StagedKit kit("unsigned-installer");
  ASSERT_TRUE(kit.Ok());
  const std::wstring path = kit.Path(L"x86\\Installer.exe");
  const std::string original = testing_support::ReadBinaryFile(path);
  CFileVerifier verifier;
  ASSERT_TRUE(verifier.ValidateFile(kit.Path(L"kit.cat")));
  ASSERT_TRUE(verifier.ValidateFile(path)) << "the genuine unsigned image";
  const uint32_t middle = static_cast<uint32_t>(original.size() / 2 / 8 * 8);
  const std::string inserted =
      Declare(original.substr(0, middle) + std::string(64, '\xCC') + original.substr(middle) +
                  std::string((8 - original.size() % 8) % 8, '\0'),
              middle, 64);
  std::ofstream(testing_support::WideToUtf8(path), std::ios::binary | std::ios::trunc)
      .write(inserted.data(), inserted.size());
  EXPECT_FALSE(verifier.ValidateFile(path));
}

// Digests worked out from the file formats by the fixture script, never by this program's code.
nlohmann::json DigestFixtures() {
  std::ifstream in(testing_support::WideToUtf8(BuildFolder() + L"\\testdata\\digests\\digests.json"));
  return nlohmann::json::parse(in, nullptr, false);
}

// Stand-ins for the system's SHA-256 catalog hashing that behave as documented:
// CryptCATAdminAcquireContext2 gives a context for "SHA256"; CryptCATAdminCalcHashFromFileHandle2
// answers FALSE, ERROR_INSUFFICIENT_BUFFER and the size it needs for a missing or short buffer,
// else the digest of the file behind the handle (here the one the fixtures record for its name);
// CryptCATAdminReleaseContext ends the context.
namespace system_hashing {

nlohmann::json digests;
int openContexts = 0;
int filesHashed = 0;

BOOL WINAPI AcquireContext2(HCATADMIN* admin, const GUID* subsystem, PCWSTR algorithm, const CERT_STRONG_SIGN_PARA*,
                            DWORD flags) {
  if (admin == nullptr || subsystem == nullptr || algorithm == nullptr || wcscmp(algorithm, L"SHA256") != 0 ||
      flags != 0) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return FALSE;
  }
  *admin = reinterpret_cast<HCATADMIN>(&openContexts);
  ++openContexts;
  return TRUE;
}

BOOL WINAPI CalcHash2(HCATADMIN admin, HANDLE file, DWORD* size, BYTE* hash, DWORD flags) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetFinalPathNameByHandleW(file, path, MAX_PATH, VOLUME_NAME_DOS);
  if (admin != reinterpret_cast<HCATADMIN>(&openContexts) || size == nullptr || flags != 0 || length == 0 ||
      length >= MAX_PATH) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring full(path, length);
  const std::string name = testing_support::WideToUtf8(full.substr(full.find_last_of(L'\\') + 1));
  if (!digests.contains(name)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const std::string hex = digests[name].get<std::string>();
  if (hash == nullptr || *size < hex.size() / 2) {
    *size = static_cast<DWORD>(hex.size() / 2);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  for (size_t i = 0; i < hex.size() / 2; ++i) hash[i] = static_cast<BYTE>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  *size = static_cast<DWORD>(hex.size() / 2);
  ++filesHashed;
  return TRUE;
}

BOOL WINAPI ReleaseContext(HCATADMIN admin, DWORD) {
  if (admin != reinterpret_cast<HCATADMIN>(&openContexts)) return FALSE;
  --openContexts;
  return TRUE;
}

CatalogApi Resolve() {
  CatalogApi api;
  api.wintrust.Set(LoadLibraryW(L"wintrust.dll"));
  api.acquireContext2 = &AcquireContext2;
  api.calcHash2 = &CalcHash2;
  api.releaseContext = &ReleaseContext;
  return api;
}

}  // namespace system_hashing

// PE32 and PE32+ images, unsigned (of sizes that are and are not multiples of 8) and signed
// (certificate table at the end), an image a linker wrote, and data files: the program's own
// hashing gives the digests the formats define, and so does the system's branch.
TEST(Digests, OwnHashingGivesTheDocumentedDigests) {
  const nlohmann::json fixtures = DigestFixtures();
  ASSERT_FALSE(fixtures.is_discarded()) << "run the prepare_digest_fixtures fixture first";
  ASSERT_GE(fixtures.size(), 12u);
  CFileVerifier verifier(&NoCatalogApi);
  for (const auto& fixture : fixtures.items()) {
    std::wstring hex;
    ASSERT_EQ(0u, verifier.CalcFileHash(BuildFolder() + L"\\testdata\\digests\\" + Utf8ToWide(fixture.key()), hex))
        << fixture.key();
    EXPECT_EQ(Utf8ToWide(fixture.value().get<std::string>()), hex) << fixture.key();
  }
}

TEST(Digests, SystemHashingBranchAgreesWithTheProgramsOwn) {
  system_hashing::digests = DigestFixtures();
  ASSERT_FALSE(system_hashing::digests.is_discarded());
  CFileVerifier system(&system_hashing::Resolve);
  CFileVerifier own(&NoCatalogApi);
  EXPECT_TRUE(system.CatalogSupported());
  for (const auto& fixture : system_hashing::digests.items()) {
    const std::wstring path = BuildFolder() + L"\\testdata\\digests\\" + Utf8ToWide(fixture.key());
    const int hashed = system_hashing::filesHashed;
    std::wstring systemHex, ownHex;
    ASSERT_EQ(0u, system.CalcFileHash(path, systemHex)) << fixture.key();
    EXPECT_EQ(hashed + 1, system_hashing::filesHashed) << "the system's hashing answered";
    ASSERT_EQ(0u, own.CalcFileHash(path, ownHex));
    EXPECT_EQ(ownHex, systemHex) << fixture.key();
  }
  EXPECT_EQ(0, system_hashing::openContexts) << "every context released";
  // A file the system cannot hash is refused with the system's error, not hashed otherwise.
  ScopedTempFolder folder;
  ASSERT_TRUE(WriteTextFile(folder.Path() + L"\\unknown.txt", "x"));
  std::wstring hex;
  EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), system.CalcFileHash(folder.Path() + L"\\unknown.txt", hex));
  EXPECT_TRUE(hex.empty());
  EXPECT_EQ(0, system_hashing::openContexts);
}

TEST(PublisherCheck, SignedInstallerIsTrustedAndAChangedOneIsNot) {
  StagedKit kit("good");
  CFileVerifier verifier;
  EXPECT_TRUE(verifier.IsFileTrusted(kit.Path(L"x86\\Installer.exe"), false));
  FlipByte(kit.Path(L"x86\\Installer.exe"), 0x2000);
  EXPECT_FALSE(verifier.IsFileTrusted(kit.Path(L"x86\\Installer.exe"), false));
}

TEST(PublisherCheck, UnsignableExtensionsPassUnsigned) {
  StagedKit kit("good");
  CFileVerifier verifier;
  EXPECT_TRUE(verifier.IsFileTrusted(kit.Path(L"x86\\readme.txt"), false));
  ASSERT_TRUE(CopyFileTo(testing_support::TestBinFolder() + L"\\test_agent.exe", kit.Path(L"unsigned.exe")));
  EXPECT_FALSE(verifier.IsFileTrusted(kit.Path(L"unsigned.exe"), false)) << "an unsigned program is refused";
}

Crypt::Certificate Certificate(const wchar_t* cn, const wchar_t* o, const wchar_t* serial) {
  Crypt::Certificate certificate;
  ov::DistinguishedNameBuilder::Parse(std::wstring(L"C=RO, O=") + o + L", CN=" + cn, certificate.subject);
  certificate.serial = serial;
  return certificate;
}

TEST(PublisherCheck, AllowedSignerNeedsBothNamesAndAServingSerial) {
  Crypt::Chain good;
  good.certificates.AddTail(Certificate(L"Orvane SRL", L"Orvane SRL", L"0102"));
  EXPECT_TRUE(CFileVerifier::IsAllowedSigner(good));
  Crypt::Chain denied;
  denied.certificates.AddTail(Certificate(L"Orvane SRL", L"Orvane SRL", L"0e4b9d2c7a1f48b3965c3e0d8a7b1f24"));
  EXPECT_FALSE(CFileVerifier::IsAllowedSigner(denied));
  Crypt::Chain wrongO, wrongCn, caseDiffers;
  wrongO.certificates.AddTail(Certificate(L"Orvane SRL", L"Orvane Labs SRL", L"01"));
  wrongCn.certificates.AddTail(Certificate(L"Orvane", L"Orvane SRL", L"01"));
  caseDiffers.certificates.AddTail(Certificate(L"ORVANE SRL", L"Orvane SRL", L"01"));
  EXPECT_FALSE(CFileVerifier::IsAllowedSigner(wrongO));
  EXPECT_FALSE(CFileVerifier::IsAllowedSigner(wrongCn));
  EXPECT_FALSE(CFileVerifier::IsAllowedSigner(caseDiffers));
  Crypt::Chain issuedBelow;  // the publisher anywhere in the chain
  issuedBelow.certificates.AddTail(Certificate(L"Someone", L"Else", L"01"));
  issuedBelow.certificates.AddTail(Certificate(L"Orvane SRL", L"Orvane SRL", L"02"));
  EXPECT_TRUE(CFileVerifier::IsAllowedSigner(issuedBelow));
}

TEST(DistinguishedNameBuilder, QuotesSpacesAndRepeatedAttributes) {
  ov::NameAttributes attributes;
  ASSERT_EQ(0u, ov::DistinguishedNameBuilder::Parse(L"C=RO, O=\"Orvane, SRL\", OU=A, OU= B , CN=Orvane SRL",
                                                    attributes));
  EXPECT_EQ(*attributes.Find(L"O")->GetHeadPtr(), L"Orvane, SRL");
  EXPECT_EQ(2u, attributes.Find(L"OU")->GetCount());
  EXPECT_EQ(*attributes.Find(L"OU")->GetTailPtr(), L"B");
  EXPECT_EQ(*attributes.Find(L"CN")->GetHeadPtr(), L"Orvane SRL");
  ov::NameAttributes broken;
  EXPECT_NE(0u, ov::DistinguishedNameBuilder::Parse(L"C=RO, O=\"unterminated", broken));
  EXPECT_NE(nullptr, broken.Find(L"C")) << "what was read before the error stays";
}

TEST(DistinguishedNameBuilder, EncodedNamesAreReadAttributeByAttributeWithTheirExactValues) {
  std::vector<unsigned char> encoded = testing_support::EncodeCertificateName(
      {{{szOID_COUNTRY_NAME, L"RO"}},
       {{szOID_ORGANIZATION_NAME, L"Orvane, \"SRL\""}},
       {{szOID_ORGANIZATIONAL_UNIT_NAME, L"A"}, {szOID_ORGANIZATIONAL_UNIT_NAME, L" B"}},
       {{szOID_COMMON_NAME, L"Orvane SRL"}}});
  ASSERT_FALSE(encoded.empty());
  ov::NameAttributes attributes;
  ASSERT_EQ(0u, ov::DistinguishedNameBuilder::Decode({static_cast<DWORD>(encoded.size()), encoded.data()}, attributes));
  EXPECT_EQ(*attributes.Find(L"O")->GetHeadPtr(), L"Orvane, \"SRL\"") << "quotes and commas stay in the value";
  ASSERT_NE(nullptr, attributes.Find(L"OU"));
  EXPECT_EQ(2u, attributes.Find(L"OU")->GetCount()) << "both values of the multi-valued name";
  EXPECT_EQ(*attributes.Find(L"OU")->GetTailPtr(), L" B") << "exactly as encoded";
  EXPECT_EQ(*attributes.Find(L"CN")->GetHeadPtr(), L"Orvane SRL");
  EXPECT_EQ(*attributes.Find(L"C")->GetHeadPtr(), L"RO");
  ov::NameAttributes broken;
  BYTE garbage[] = {0x30, 0x05, 0x31};
  EXPECT_NE(0u, ov::DistinguishedNameBuilder::Decode({sizeof garbage, garbage}, broken));
}

}  // namespace
