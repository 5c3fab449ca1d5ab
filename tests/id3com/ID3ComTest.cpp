// The ID3Com component through COM, as the program uses it: created by CLSID after the
// server registered itself, tags written and read back, frames removed, tags removed,
// and files that cannot be written or read.
#include "com/Com.h"
#include "RegisterID3Com.h"
#include "id3com/ID3Com.h"
#include "platform/CodePage.h"
#include "platform/Genres.h"
#include "platform/FileRewrite.h"
#include "platform/Registry.h"

#include "id3com/Mp3Files.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QLibrary>

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using lbtest::RawFrame;

struct TextProp {
  const char* name;
  HRESULT (STDMETHODCALLTYPE IID3ComTag::*get)(BSTR*);
  HRESULT (STDMETHODCALLTYPE IID3ComTag::*put)(BSTR);
  LONG frameId;
};

const TextProp kProps[] = {
    {"Title", &IID3ComTag::get_Title, &IID3ComTag::put_Title, ID3FID_TITLE},
    {"Artist", &IID3ComTag::get_Artist, &IID3ComTag::put_Artist, ID3FID_LEADARTIST},
    {"Album", &IID3ComTag::get_Album, &IID3ComTag::put_Album, ID3FID_ALBUM},
    {"Year", &IID3ComTag::get_Year, &IID3ComTag::put_Year, ID3FID_YEAR},
    {"Comment", &IID3ComTag::get_Comment, &IID3ComTag::put_Comment, ID3FID_COMMENT},
    {"Composer", &IID3ComTag::get_Composer, &IID3ComTag::put_Composer, ID3FID_COMPOSER},
    {"OrigArtist", &IID3ComTag::get_OrigArtist, &IID3ComTag::put_OrigArtist, ID3FID_ORIGARTIST},
    {"Copyright", &IID3ComTag::get_Copyright, &IID3ComTag::put_Copyright, ID3FID_COPYRIGHT},
    {"URL", &IID3ComTag::get_URL, &IID3ComTag::put_URL, ID3FID_WWWUSER},
    {"EncodedBy", &IID3ComTag::get_EncodedBy, &IID3ComTag::put_EncodedBy, ID3FID_ENCODEDBY},
};

// Values with Cyrillic everywhere the format allows it (a URL is Latin-1 text).
QString ValueFor(const TextProp& p) {
  QString name = p.name;
  if (name == "Year") return "1987";
  if (name == "URL") return "http://example.org/kino?a=1";
  return name + QStringLiteral(" — Виктор Цой «Звезда»");
}

class ID3ComTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lbtest::RegisterID3Com()); }

  ComPtr<IID3ComTag> NewTag() {
    ComPtr<IID3ComTag> tag;
    EXPECT_EQ(CoCreateInstance(CLSID_ID3ComTag, nullptr, CLSCTX_INPROC_SERVER, IID_IID3ComTag,
                               tag.PutVoid()),
              S_OK);
    return tag;
  }

  static HRESULT Link(IID3ComTag* tag, const QString& path) {
    BSTR b = lb::BstrFromQString(path);
    HRESULT hr = tag->Link(b);
    SysFreeString(b);
    return hr;
  }
  static QString Get(IID3ComTag* tag, const TextProp& p) {
    BSTR b = nullptr;
    EXPECT_EQ((tag->*p.get)(&b), S_OK);
    QString s = lb::QStringFromBstr(b);
    SysFreeString(b);
    return s;
  }
  static void Put(IID3ComTag* tag, const TextProp& p, const QString& value) {
    BSTR b = lb::BstrFromQString(value);
    EXPECT_EQ((tag->*p.put)(b), S_OK);
    SysFreeString(b);
  }
  static bool HasV2(IID3ComTag* tag) {
    VARIANT_BOOL has = 0;
    EXPECT_EQ(tag->get_HasV2Tag(&has), S_OK);
    return has == VARIANT_TRUE;
  }
  static LONG Genre(IID3ComTag* tag) {
    LONG g = -1;
    tag->get_Genre(&g);
    return g;
  }
  static LONG Track(IID3ComTag* tag) {
    LONG t = -1;
    tag->get_Track(&t);
    return t;
  }

  QString MakeFile(const QByteArray& bytes, const QString& name = "song.mp3") {
    QString path = lbtest::NewTempDir() + "/" + name;
    EXPECT_TRUE(lbtest::WriteFile(path, bytes));
    return path;
  }

  // The program's write sequence: every text field put or removed, genre and track put.
  void WriteAll(const QString& path, const QMap<QString, QString>& values, LONG genre, LONG track) {
    ComPtr<IID3ComTag> tag = NewTag();
    tag->Clear();
    Link(tag.Get(), path);
    for (const TextProp& p : kProps) {
      QString v = values.value(p.name);
      if (v.isEmpty())
        EXPECT_EQ(tag->RemoveFrameByID(p.frameId), S_OK);
      else
        Put(tag.Get(), p, v);
    }
    tag->put_Genre(genre);
    tag->put_Track(track);
    ASSERT_EQ(tag->SaveV2Tag(), S_OK);
    tag->Clear();
  }
};

TEST_F(ID3ComTest, RegistersUnderItsProgIdAndPath) {
  TRegistry reg(HKEY_CLASSES_ROOT);
  const QString key = "\\CLSID\\" + lb::GuidToString(CLSID_ID3ComTag);
  ASSERT_TRUE(reg.OpenKeyReadOnly(key + "\\InprocServer32"));
  EXPECT_EQ(reg.ReadString(""), QFileInfo(lbtest::BinDir() + "/libid3com.so").canonicalFilePath());
  EXPECT_EQ(reg.ReadString("ThreadingModel"), "Apartment");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"ID3Com.ID3ComTag", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_ID3ComTag);
}

TEST_F(ID3ComTest, AllTwelvePropertiesRoundTripAsV23) {
  QString path = MakeFile(lbtest::Mp3Audio());
  const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
  ASSERT_TRUE(QFile::setPermissions(path, perms));
  QMap<QString, QString> values;
  for (const TextProp& p : kProps) values[p.name] = ValueFor(p);
  WriteAll(path, values, 17, 5);
  EXPECT_EQ(QFile::permissions(path) & 0x7077, perms);  // the replacing file keeps them

  QByteArray bytes = lbtest::ReadFile(path);
  ASSERT_TRUE(bytes.startsWith(QByteArray("ID3\x03", 4)));  // v2.3
  EXPECT_TRUE(bytes.contains("TYER"));
  EXPECT_FALSE(bytes.contains("TDRC"));
  EXPECT_TRUE(bytes.contains(QByteArray("TIT2", 4)));
  // Audio follows the tag untouched.
  EXPECT_TRUE(bytes.endsWith(lbtest::Mp3Audio()));

  ComPtr<IID3ComTag> tag = NewTag();
  ASSERT_EQ(Link(tag.Get(), path), S_OK);
  EXPECT_TRUE(HasV2(tag.Get()));
  for (const TextProp& p : kProps) EXPECT_EQ(Get(tag.Get(), p), ValueFor(p)) << p.name;
  EXPECT_EQ(Genre(tag.Get()), 17);
  EXPECT_EQ(Track(tag.Get()), 5);
}

TEST_F(ID3ComTest, EmptyFieldsRemoveTheirFrames) {
  QString path = MakeFile(lbtest::Mp3Audio());
  QMap<QString, QString> values;
  for (const TextProp& p : kProps) values[p.name] = ValueFor(p);
  WriteAll(path, values, 17, 5);
  // Rewrite with every other field empty, no genre and no track.
  QMap<QString, QString> half;
  for (int i = 0; i < 10; i += 2) half[kProps[i].name] = ValueFor(kProps[i]);
  WriteAll(path, half, 255, 0);

  QByteArray bytes = lbtest::ReadFile(path);
  for (const char* gone : {"TPE1", "TYER", "TCOM", "TCOP", "TENC", "TCON", "TRCK"})
    EXPECT_FALSE(bytes.contains(gone)) << gone;
  ComPtr<IID3ComTag> tag = NewTag();
  ASSERT_EQ(Link(tag.Get(), path), S_OK);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(Get(tag.Get(), kProps[i]), i % 2 ? QString() : ValueFor(kProps[i])) << kProps[i].name;
  EXPECT_EQ(Genre(tag.Get()), 255);
  EXPECT_EQ(Track(tag.Get()), 0);
  EXPECT_EQ(tag->RemoveFrameByID(12345), E_INVALIDARG);
}

TEST_F(ID3ComTest, ArtistRemovalTakesBandAndConductorToo) {
  QByteArray file = lbtest::Id3v2(3, {{"TPE1", lbtest::TextBody("Lead")},
                                      {"TPE2", lbtest::TextBody("Band")},
                                      {"TPE3", lbtest::TextBody("Conductor")},
                                      {"TIT2", lbtest::TextBody("Title")}}) +
                    lbtest::Mp3Audio();
  QString path = MakeFile(file);
  ComPtr<IID3ComTag> tag = NewTag();
  Link(tag.Get(), path);
  for (LONG id : {ID3FID_LEADARTIST, ID3FID_BAND, ID3FID_CONDUCTOR})
    EXPECT_EQ(tag->RemoveFrameByID(id), S_OK);
  ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  QByteArray bytes = lbtest::ReadFile(path);
  for (const char* gone : {"TPE1", "TPE2", "TPE3"}) EXPECT_FALSE(bytes.contains(gone)) << gone;
  EXPECT_TRUE(bytes.contains("TIT2"));
}

TEST_F(ID3ComTest, RemovingTheTagKeepsAudioAndId3v1) {
  const QByteArray v1 = lbtest::Id3v1("v1 title", "v1 artist");
  QString path = MakeFile(lbtest::Mp3Audio() + v1);
  QMap<QString, QString> values{{"Title", "Заголовок"}, {"Artist", "Исполнитель"}};
  WriteAll(path, values, 2, 1);
  ASSERT_TRUE(lbtest::ReadFile(path).startsWith("ID3"));
  EXPECT_TRUE(lbtest::ReadFile(path).endsWith(v1));  // writing v2 never touches v1

  ComPtr<IID3ComTag> tag = NewTag();
  Link(tag.Get(), path);
  EXPECT_TRUE(HasV2(tag.Get()));
  tag->Clear();
  ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  EXPECT_FALSE(HasV2(tag.Get()));
  EXPECT_EQ(lbtest::ReadFile(path), lbtest::Mp3Audio() + v1);

  ComPtr<IID3ComTag> again = NewTag();
  Link(again.Get(), path);
  EXPECT_FALSE(HasV2(again.Get()));
  EXPECT_EQ(Get(again.Get(), kProps[0]), "");
  // Saving an empty tag into a file without one changes nothing.
  ASSERT_EQ(again->SaveV2Tag(), S_OK);
  EXPECT_EQ(lbtest::ReadFile(path), lbtest::Mp3Audio() + v1);
}

TEST_F(ID3ComTest, ReadsV22AndV24TagsAndGenreForms) {
  struct Case {
    int version;
    QList<RawFrame> frames;
    QString title, year, comment;
    LONG genre, track;
  };
  const QList<Case> cases = {
      {2,
       {{"TT2", lbtest::TextBody("Old")},
        {"TYE", lbtest::TextBody("1977")},
        {"TCO", lbtest::TextBody("(17)")},
        {"TRK", lbtest::TextBody("3/10")},
        {"COM", lbtest::CommentBody("eng", "", "v22 comment")}},
       "Old",
       "1977",
       "v22 comment",
       17,
       3},
      {3,
       {{"TIT2", lbtest::TextBody("Кино", 1)},
        {"TYER", lbtest::TextBody("99")},
        {"TCON", lbtest::TextBody("(17)Rock")},
        {"TRCK", lbtest::TextBody("5/12")},
        {"COMM", lbtest::CommentBody("rus", "iTunNORM", " 00000A")},
        {"COMM", lbtest::CommentBody("rus", "", "main")}},
       "Кино",
       "99",
       "main",
       17,
       5},
      {4,
       {{"TIT2", lbtest::TextBody("Новый", 3)},
        {"TDRC", lbtest::TextBody("2001-05-06")},
        {"TCON", lbtest::TextBody("Heavy Metal")},
        {"TRCK", lbtest::TextBody("x")}},
       "Новый",
       "2001",
       "",
       137,
       0},
      {3, {{"TCON", lbtest::TextBody("Chanson russe")}}, "", "", "", lb::kGenreOutsideTable, 0},
      {3, {{"TCON", lbtest::TextBody("(200)")}}, "", "", "", 255, 0},
      {3, {{"TCON", lbtest::TextBody("8")}}, "", "", "", 8, 0},
  };
  for (const Case& c : cases) {
    QString path = MakeFile(lbtest::Id3v2(c.version, c.frames) + lbtest::Mp3Audio());
    ComPtr<IID3ComTag> tag = NewTag();
    ASSERT_EQ(Link(tag.Get(), path), S_OK);
    SCOPED_TRACE(c.version);
    EXPECT_TRUE(HasV2(tag.Get()));
    EXPECT_EQ(Get(tag.Get(), kProps[0]), c.title);
    EXPECT_EQ(Get(tag.Get(), kProps[3]), c.year);
    EXPECT_EQ(Get(tag.Get(), kProps[4]), c.comment);
    EXPECT_EQ(Genre(tag.Get()), c.genre);
    EXPECT_EQ(Track(tag.Get()), c.track);
  }
}

TEST_F(ID3ComTest, SavingKeepsFramesItDoesNotKnow) {
  QByteArray txxx = lbtest::TextBody("LYRICIST") + QByteArray(1, '\0') + "someone";
  QString path = MakeFile(lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old title")},
                                            {"TXXX", txxx},
                                            {"COMM", lbtest::CommentBody("eng", "iTunNORM", "x")},
                                            {"COMM", lbtest::CommentBody("deu", "", "alt")}}) +
                          lbtest::Mp3Audio());
  ComPtr<IID3ComTag> tag = NewTag();
  Link(tag.Get(), path);
  Put(tag.Get(), kProps[0], "Новый");
  Put(tag.Get(), kProps[4], "Новый комментарий");
  ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  QByteArray bytes = lbtest::ReadFile(path);
  EXPECT_TRUE(bytes.contains("LYRICIST"));
  EXPECT_TRUE(bytes.contains("iTunNORM"));  // the described comment stays
  EXPECT_TRUE(bytes.contains("deu"));       // the main comment keeps its language
  ComPtr<IID3ComTag> again = NewTag();
  Link(again.Get(), path);
  EXPECT_EQ(Get(again.Get(), kProps[0]), "Новый");
  EXPECT_EQ(Get(again.Get(), kProps[4]), "Новый комментарий");
}

TEST_F(ID3ComTest, ReadOnlyFileRefusesAndStaysUnchanged) {
  QByteArray original = lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Keep")}}) +
                        lbtest::Mp3Audio() + lbtest::Id3v1("t", "a");
  QString path = MakeFile(original);
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  ComPtr<IID3ComTag> tag = NewTag();
  ASSERT_EQ(Link(tag.Get(), path), S_OK);  // reading a read-only file is fine
  EXPECT_EQ(Get(tag.Get(), kProps[0]), "Keep");
  Put(tag.Get(), kProps[0], "Changed");
  EXPECT_LT(tag->SaveV2Tag(), 0);
  tag->Clear();
  EXPECT_LT(tag->SaveV2Tag(), 0);
  EXPECT_EQ(lbtest::ReadFile(path), original);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

TEST_F(ID3ComTest, MissingGarbageAndFolderNeverCrash) {
  ComPtr<IID3ComTag> tag = NewTag();
  QString missing = lbtest::NewTempDir() + "/missing.mp3";
  EXPECT_LT(Link(tag.Get(), missing), 0);
  EXPECT_FALSE(HasV2(tag.Get()));
  EXPECT_EQ(Get(tag.Get(), kProps[0]), "");
  Put(tag.Get(), kProps[0], "x");
  EXPECT_LT(tag->SaveV2Tag(), 0);
  EXPECT_FALSE(QFile::exists(missing));

  EXPECT_LT(Link(tag.Get(), lbtest::NewTempDir()), 0);
  EXPECT_LT(tag->SaveV2Tag(), 0);

  // A header that promises far more than the file holds, a truncated header, frames
  // whose sizes run past the tag, and plain noise.
  QByteArray noise;
  for (int i = 0; i < 5000; ++i) noise += char((i * 7919) % 251);
  const QList<QByteArray> garbage = {
      QByteArray("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + noise,
      QByteArray("ID3\x04", 4),
      QByteArray("ID3\x03\x00\x00\x00\x00\x01\x00TIT2\xFF\xFF\xFF\xFF\x00\x00", 20) + noise,
      noise,
      QByteArray(),
  };
  for (const QByteArray& g : garbage) {
    QString path = MakeFile(g, "garbage.mp3");
    ComPtr<IID3ComTag> t = NewTag();
    Link(t.Get(), path);
    for (const TextProp& p : kProps) Get(t.Get(), p);
    Genre(t.Get());
    Put(t.Get(), kProps[0], "Title");
    t->SaveV2Tag();  // may succeed or fail; it must not crash
  }
}

TEST_F(ID3ComTest, GenreTrackAndShortYearWrites) {
  QString path = MakeFile(lbtest::Mp3Audio());
  ComPtr<IID3ComTag> tag = NewTag();
  Link(tag.Get(), path);
  tag->put_Genre(80);  // written by name, readable by every player
  tag->put_Track(12);
  ASSERT_EQ(tag->SaveV2Tag(), S_OK);
  QByteArray bytes = lbtest::ReadFile(path);
  EXPECT_TRUE(bytes.contains("Folk"));
  ComPtr<IID3ComTag> again = NewTag();
  Link(again.Get(), path);
  EXPECT_EQ(Genre(again.Get()), 80);
  EXPECT_EQ(Track(again.Get()), 12);
  // A year of two digits is kept as written.
  BSTR year = lb::BstrFromQString("99");
  again->put_Year(year);
  SysFreeString(year);
  // A number outside the table means no genre.
  again->put_Genre(200);
  EXPECT_EQ(Genre(again.Get()), 255);
  ASSERT_EQ(again->SaveV2Tag(), S_OK);
  EXPECT_FALSE(lbtest::ReadFile(path).contains("TCON"));
  ComPtr<IID3ComTag> third = NewTag();
  Link(third.Get(), path);
  EXPECT_EQ(Get(third.Get(), kProps[3]), "99");
  // A track number alone keeps the total the file holds; a typed total wins.
  const auto track = [&](const char* typed, LONG number, const char* expected) {
    ComPtr<IID3ComTag> t = NewTag();
    Link(t.Get(), path);
    BSTR text = typed ? lb::BstrFromQString(typed) : nullptr;
    typed ? t->put_TrackText(text) : t->put_Track(number);
    SysFreeString(text);
    ASSERT_EQ(t->SaveV2Tag(), S_OK);
    ComPtr<IID3ComTag> read = NewTag();
    Link(read.Get(), path);
    read->get_TrackText(&text);
    EXPECT_EQ(lb::QStringFromBstr(text), expected);
    SysFreeString(text);
  };
  track("3/12", 0, "3/12");
  track(nullptr, 4, "4/12");
  track("5/15", 0, "5/15");
  track(nullptr, 0, "");
}

// Old taggers put Windows-1251 bytes into frames marked ISO-8859-1.
TEST_F(ID3ComTest, Latin1TextIsReadInTheTagCodePage) {
  ASSERT_EQ(lb::CurrentTagCodePage(), 1251);
  const QByteArray cyrillic = lb::ToTagCodePage(QStringLiteral("Кино"));
  QString path = MakeFile(lbtest::Id3v2(3, {{"TIT2", QByteArray(1, '\0') + cyrillic},
                                            {"COMM", lbtest::CommentBody("rus", "", cyrillic)}}) +
                          lbtest::Mp3Audio());
  ComPtr<IID3ComTag> tag = NewTag();
  ASSERT_EQ(Link(tag.Get(), path), S_OK);
  EXPECT_EQ(Get(tag.Get(), kProps[0]), "Кино");
  EXPECT_EQ(Get(tag.Get(), kProps[4]), "Кино");
}

// A tag that outgrows its space moves the audio: through a file beside it when the file
// has one link, in place when it has more; either way the file stays the user's.
TEST_F(ID3ComTest, GrowingTagKeepsHardLinksOwnerAndMode) {
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked);
    QString path = MakeFile(lbtest::Mp3Audio(50));
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::chmod(name.constData(), 0640), 0);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
    }
    if (linked) {
      ASSERT_EQ(::link(name.constData(), (name + ".alias").constData()), 0);
    }
    struct stat before {};
    ::stat(name.constData(), &before);
    WriteAll(path, {{"Title", QString(5000, QChar(0x0416))}}, 255, 0);
    struct stat after {};
    ::stat(name.constData(), &after);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_nlink, before.st_nlink);
    if (linked) {
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
    const QByteArray bytes = lbtest::ReadFile(path);
    EXPECT_TRUE(bytes.startsWith("ID3") && bytes.endsWith(lbtest::Mp3Audio(50)));
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(),
              linked ? 2 : 1);
  }
}

// A disk that fills half way through a rewrite: the write fails and the file (and its
// folder) are as before, on both ways of rewriting.
TEST_F(ID3ComTest, FullDiskDuringARewriteLeavesTheFileWhole) {
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked);
    const QByteArray original =
        lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}}) + lbtest::Mp3Audio(50);
    QString path = MakeFile(original);
    if (linked) {
      ASSERT_EQ(::link(QFile::encodeName(path).constData(),
                       QFile::encodeName(path + ".alias").constData()),
                0);
    }
    ComPtr<IID3ComTag> tag = NewTag();
    ASSERT_EQ(Link(tag.Get(), path), S_OK);
    Put(tag.Get(), kProps[0], QString(5000, QChar(0x0416)));
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = original.size() + 100;
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const HRESULT hr = tag->SaveV2Tag();
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_LT(hr, 0);
    EXPECT_TRUE(lbtest::ReadFile(path) == original);
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(),
              linked ? 2 : 1);
  }
}

// Bytes after the last frame that are no frame (junk some taggers leave in the
// padding) lose nothing: such a tag is rewritten as usual.
TEST_F(ID3ComTest, JunkInThePaddingIsNoDamage) {
  QByteArray tag =
      lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Title")}, {"TPE1", lbtest::TextBody("Artist")}});
  tag.replace(tag.size() - 8, 8, "\xFFjunk\x01\x02\x03");
  QString path = MakeFile(tag + lbtest::Mp3Audio());
  ComPtr<IID3ComTag> t = NewTag();
  ASSERT_EQ(Link(t.Get(), path), S_OK);
  EXPECT_EQ(Get(t.Get(), kProps[1]), "Artist");
  Put(t.Get(), kProps[0], "New");
  EXPECT_EQ(t->SaveV2Tag(), S_OK);
  EXPECT_TRUE(lbtest::ReadFile(path).endsWith(lbtest::Mp3Audio()));
}

// Frames nested one in the next, each size readable only as a plain integer (its low
// byte has the high bit set) and reaching the end of the tag: every frame but the
// innermost swallows the next, the worst case for a walk that looks for the frame
// after a broken one. 100,000 of them are read at once, the innermost frame found, and
// the tag counts as damaged.
TEST_F(ID3ComTest, NestedFrameSizesAreWalkedInLinearTime) {
  constexpr int kFrames = 100000;
  const QByteArray inner = lbtest::TextBody(QString(200, 'x'));  // 201 = 0xC9 bytes
  std::vector<quint32> sizes(kFrames);
  std::vector<int> filler(kFrames, 0);
  sizes[kFrames - 1] = inner.size();
  for (int k = kFrames - 2; k >= 0; --k) {
    while (((sizes[k + 1] + 10 + filler[k]) & 0x80) == 0) ++filler[k];
    sizes[k] = sizes[k + 1] + 10 + filler[k];
  }
  QByteArray body;
  for (int k = 0; k < kFrames; ++k)
    body += "TIT2" + lbtest::BigEndian(sizes[k], 4) + QByteArray(2, '\0') +
            QByteArray(filler[k], '\x01');
  body += inner + QByteArray(64, '\0');
  const QByteArray tag = QByteArray("ID3\x04\x00\x00", 6) + lbtest::SyncSafe(body.size()) + body;
  QString path = MakeFile(tag + lbtest::Mp3Audio());
  ComPtr<IID3ComTag> t = NewTag();
  // Processor time of this thread (the component runs on it), whatever else the
  // machine is busy with.
  auto cpuMs = [] {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
  };
  const long long start = cpuMs();
  ASSERT_EQ(Link(t.Get(), path), S_OK);
  EXPECT_LT(cpuMs() - start, 1000);
  EXPECT_TRUE(Get(t.Get(), kProps[0]) == QString(200, 'x'));
  Put(t.Get(), kProps[0], "New");
  EXPECT_EQ(t->SaveV2Tag(), ID3COM_E_DAMAGEDTAG);
}

// A frame whose size field is broken (cut short, too long, unreadable, or in a v2.4 tag
// a plain integer that also reads as a shorter sync-safe one) does not hide the frames
// around it; a tag that lost a frame is never rewritten.
TEST_F(ID3ComTest, FramesAroundABrokenSizeAreRead) {
  const QByteArray sizes[] = {QByteArray("\x00\x00\x00\x02", 4), QByteArray("\x00\x00\x7F\x7F", 4),
                              QByteArray("\xFF\xFF\xFF\xFF", 4), QByteArray(4, '\0'),
                              QByteArray()};  // the true size, as a plain integer
  const QString encoder = "LAME 3.100 " + QString(250, 'x');
  for (int version : {3, 4}) {
    for (const QByteArray& size : sizes) {
      if (size.isNull() && version == 3) continue;  // what v2.3 writes anyway
      SCOPED_TRACE(version * 100 + (&size - sizes));
      QByteArray tag =
          lbtest::Id3v2(version, {{"TIT2", lbtest::TextBody("Title")},
                                  {"TPE1", lbtest::TextBody("Artist")},
                                  {"TALB", lbtest::TextBody("Album")},
                                  {"TENC", lbtest::TextBody(encoder, 3)},
                                  {"TRCK", lbtest::TextBody("7")},
                                  {version == 4 ? "TDRC" : "TYER", lbtest::TextBody("1999")},
                                  {"TCON", lbtest::TextBody("(17)")},
                                  {"COMM", lbtest::CommentBody("eng", "", "Comment")}});
      const qsizetype at = tag.indexOf("TENC") + 4;
      tag.replace(at, 4, size.isNull() ? lbtest::BigEndian(encoder.size() + 1, 4) : size);
      QString path = MakeFile(tag + lbtest::Mp3Audio());
      ComPtr<IID3ComTag> t = NewTag();
      ASSERT_EQ(Link(t.Get(), path), S_OK);
      EXPECT_EQ(Get(t.Get(), kProps[0]), "Title");
      EXPECT_EQ(Get(t.Get(), kProps[1]), "Artist");
      EXPECT_EQ(Get(t.Get(), kProps[2]), "Album");
      EXPECT_EQ(Get(t.Get(), kProps[3]), "1999");
      EXPECT_EQ(Get(t.Get(), kProps[4]), "Comment");
      EXPECT_EQ(Track(t.Get()), 7);
      EXPECT_EQ(Genre(t.Get()), 17);
      Put(t.Get(), kProps[0], "New");
      if (!size.isNull()) {
        EXPECT_EQ(t->SaveV2Tag(), ID3COM_E_DAMAGEDTAG);
        continue;
      }
      // A plain size read whole loses nothing: the tag is rewritten with a proper one.
      EXPECT_EQ(Get(t.Get(), kProps[9]), encoder);
      ASSERT_EQ(t->SaveV2Tag(), S_OK);
      ComPtr<IID3ComTag> back = NewTag();
      ASSERT_EQ(Link(back.Get(), path), S_OK);
      EXPECT_EQ(Get(back.Get(), kProps[9]), encoder);
      EXPECT_EQ(Get(back.Get(), kProps[4]), "Comment");
    }
  }
}

// A process killed in an in-place rewrite (a file with two links, or in a folder that
// takes no new file; a tag that grows) leaves the audio half moved; its backup, kept in
// the user's data folder under the file's identity, puts it back on the next access
// through any of the file's names, on the same inode. A backup cut short is removed.
// The backup is left alone while a writer holds the file's lock, and is not put over a
// file changed after the rewrite stopped (nor over a file put in the song's place): the
// file is then not written, and the refusal names the backup.
TEST_F(ID3ComTest, AKilledInPlaceRewriteIsUndoneOnTheNextAccess) {
  enum { kLinked, kLockedFolder, kReplaced, kKilledBackingUp, kWriterHoldsLock, kChangedAfter };
  for (int kind :
       {kLinked, kLockedFolder, kReplaced, kKilledBackingUp, kWriterHoldsLock, kChangedAfter}) {
    SCOPED_TRACE(kind);
    const bool lockedFolder = kind == kLockedFolder;
    const QByteArray original =
        lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}}) + lbtest::Mp3Audio(200);
    QString path = MakeFile(original);
    const QByteArray name = QFile::encodeName(path);
    // The other name is in another folder.
    const QString alias = lbtest::NewTempDir() + "/alias.mp3";
    std::unique_ptr<lbtest::ReadOnlyFolder> locked;
    if (lockedFolder) {
      locked = std::make_unique<lbtest::ReadOnlyFolder>(QFileInfo(path).path());
      if (!locked->Ok()) continue;
    } else {
      ASSERT_EQ(::link(name.constData(), QFile::encodeName(alias).constData()), 0);
    }
    struct stat before {};
    ::stat(name.constData(), &before);
    ComPtr<IID3ComTag> tag = NewTag();
    ASSERT_EQ(Link(tag.Get(), path), S_OK);
    Put(tag.Get(), kProps[0], QString(5000, QChar(0x0416)));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Files may grow a little past the song's size: the audio moving behind the
      // larger tag crosses the limit (or, for kKilledBackingUp, the backup's copy
      // half way), and the process is killed right there.
      rlimit none{0, 0}, limit{};
      ::setrlimit(RLIMIT_CORE, &none);
      limit.rlim_cur = limit.rlim_max =
          kind == kKilledBackingUp ? original.size() / 2 : original.size() + 1000;
      std::signal(SIGXFSZ, [](int) { ::kill(::getpid(), SIGKILL); });
      ::setrlimit(RLIMIT_FSIZE, &limit);
      tag->SaveV2Tag();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    timespec killedAt{};
    ::clock_gettime(CLOCK_REALTIME, &killedAt);
    const QString backup = lb::RewriteBackupOf(path);
    const QDir backups = QFileInfo(backup).dir();
    if (kind == kKilledBackingUp) {
      ASSERT_EQ(lbtest::ReadFile(path), original);
      ASSERT_EQ(backups.entryList(QDir::Files).size(), 1);  // the unfinished copy
      ComPtr<IID3ComTag> again = NewTag();
      ASSERT_EQ(Link(again.Get(), alias), S_OK);
      EXPECT_FALSE(backups.exists() && !backups.entryList(QDir::Files).isEmpty());
      EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
      continue;
    }
    ASSERT_NE(lbtest::ReadFile(path), original);  // killed in the middle
    ASSERT_TRUE(QFileInfo::exists(backup));
    if (kind == kReplaced) {
      const QByteArray other = lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Other")}});
      ASSERT_TRUE(QFile::remove(path) && lbtest::WriteFile(path, other + lbtest::Mp3Audio()));
      ComPtr<IID3ComTag> again = NewTag();
      ASSERT_EQ(Link(again.Get(), path), S_OK);
      EXPECT_EQ(Get(again.Get(), kProps[0]), "Other");
      ASSERT_TRUE(QFile::remove(backup));
      continue;
    }
    if (kind == kWriterHoldsLock) {
      // A writer at work: the reader takes its backup for no leftover.
      const int held = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
      ASSERT_EQ(::flock(held, LOCK_EX), 0);
      ComPtr<IID3ComTag> reader = NewTag();
      Link(reader.Get(), alias);
      EXPECT_TRUE(QFileInfo::exists(backup));
      EXPECT_NE(lbtest::ReadFile(path), original);
      ::close(held);
    }
    if (kind == kChangedAfter) {
      // Another tagger writes the file in place once the writer is long gone.
      timespec now{};
      do ::clock_gettime(CLOCK_REALTIME, &now);
      while (now.tv_sec < killedAt.tv_sec + 2);
      const QByteArray other =
          lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Other")}}) + lbtest::Mp3Audio(200);
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.write(other) == other.size() &&
                  f.resize(other.size()));
      f.close();
      ComPtr<IID3ComTag> again = NewTag();
      ASSERT_EQ(Link(again.Get(), alias), S_OK);
      EXPECT_EQ(Get(again.Get(), kProps[0]), "Other");
      Put(again.Get(), kProps[0], QString(5000, QChar(0x0416)));
      EXPECT_NE(again->SaveV2Tag(), S_OK);
      EXPECT_TRUE(lb::RewriteRefusal().contains(backup));
      EXPECT_EQ(lbtest::ReadFile(path), other);
      EXPECT_TRUE(QFileInfo::exists(backup));
      ASSERT_TRUE(QFile::remove(backup));
      continue;
    }

    // Inside a batch of reads (which looks for the backup folder once) the backup is
    // still found, after a read of a file that has none.
    const lb::TRecoveryBatch batch;
    ComPtr<IID3ComTag> first = NewTag();
    ASSERT_EQ(Link(first.Get(), MakeFile(original)), S_OK);
    ComPtr<IID3ComTag> again = NewTag();
    ASSERT_EQ(Link(again.Get(), lockedFolder ? path : alias), S_OK);
    EXPECT_EQ(Get(again.Get(), kProps[0]), "Old");
    EXPECT_TRUE(lbtest::ReadFile(path) == original);
    struct stat after {};
    ::stat(name.constData(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(backup));
  }
}

// A tag written through a symbolic link changes the file it leads to, in that file's
// folder, and the link stays a link: for a tag that fits, one that grows and a removal.
TEST_F(ID3ComTest, WritesThroughALinkChangeTheFileItLeadsTo) {
  for (int grow : {0, 1, 2}) {
    SCOPED_TRACE(grow);
    QString target =
        MakeFile(lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}}) + lbtest::Mp3Audio());
    QString link = lbtest::NewTempDir() + "/link.mp3";
    ASSERT_TRUE(QFile::link(target, link));
    ComPtr<IID3ComTag> tag = NewTag();
    ASSERT_EQ(Link(tag.Get(), link), S_OK);
    if (grow == 2)
      tag->Clear();
    else
      Put(tag.Get(), kProps[0], grow ? QString(5000, QChar(0x0416)) : "New");
    ASSERT_EQ(tag->SaveV2Tag(), S_OK);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_EQ(
        QDir(QFileInfo(link).path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
        1);
    EXPECT_EQ(lbtest::ReadFile(target).startsWith("ID3"), grow != 2);
    EXPECT_TRUE(lbtest::ReadFile(target).endsWith(lbtest::Mp3Audio()));
  }
}

}  // namespace

// A new tag, and one that outgrows its place, get room for the next edits: a title
// some thousands of bytes longer is then written over the tag in place (the same
// inode, the same size, the audio where it was).
TEST_F(ID3ComTest, NewAndGrownTagsLeaveRoomForTheNextEdits) {
  const QByteArray audio = lbtest::Mp3Audio();
  QByteArray tight = lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}});
  tight.chop(64);  // no padding
  tight.replace(6, 4, lbtest::SyncSafe(tight.size() - 10));
  for (const QByteArray& head : {QByteArray(), tight}) {
    SCOPED_TRACE(head.size());
    const QString path = MakeFile(head + audio);
    const QByteArray name = QFile::encodeName(path);
    struct stat first {
    }, second{};
    for (int length : {100, 1600}) {
      ::stat(name.constData(), &first);
      ComPtr<IID3ComTag> tag = NewTag();
      ASSERT_EQ(Link(tag.Get(), path), S_OK);
      Put(tag.Get(), kProps[0], QString(length, QChar(0x0416)));
      ASSERT_EQ(tag->SaveV2Tag(), S_OK);
      EXPECT_TRUE(lbtest::ReadFile(path).endsWith(audio));
    }
    ::stat(name.constData(), &second);
    EXPECT_EQ(second.st_ino, first.st_ino);
    EXPECT_EQ(second.st_size, first.st_size);
    ComPtr<IID3ComTag> back = NewTag();
    ASSERT_EQ(Link(back.Get(), path), S_OK);
    EXPECT_EQ(Get(back.Get(), kProps[0]), QString(1600, QChar(0x0416)));
  }
}

// GetFields hands over in one call what the getters answer one by one, each text in its
// own field (an empty one as null), on tags of every kind the synchronisation meets:
// every field set, a genre outside the table with a track "3/10", a year stamp, no tag.
TEST_F(ID3ComTest, GetFieldsAnswersWhatTheGettersAnswer) {
  QList<RawFrame> all;
  const char* ids[] = {"TIT2", "TPE1", "TALB", "TYER", "TCOM", "TOPE", "TCOP", "TENC"};
  for (const char* id : ids) all << RawFrame{id, lbtest::TextBody(QString(id) + " Ё", 1)};
  all << RawFrame{"COMM", lbtest::CommentBody("rus", "", "Комм")}
      << RawFrame{"WXXX", QByteArray("\0\0http://a.b/c", 14)};
  const QList<QByteArray> heads = {
      lbtest::Id3v2(3, all + QList<RawFrame>{{"TCON", lbtest::TextBody("(17)")},
                                             {"TRCK", lbtest::TextBody("7")}}),
      lbtest::Id3v2(
          3, {{"TCON", lbtest::TextBody("Chanson russe")}, {"TRCK", lbtest::TextBody("3/10")}}),
      lbtest::Id3v2(4, {{"TDRC", lbtest::TextBody("2001-05-06")}}), QByteArray()};
  for (const QByteArray& head : heads) {
    SCOPED_TRACE(heads.indexOf(head));
    ComPtr<IID3ComTag> tag = NewTag();
    ASSERT_EQ(Link(tag.Get(), MakeFile(head + lbtest::Mp3Audio())), S_OK);
    ID3ComFields f{};
    void* found = nullptr;
    ASSERT_EQ(tag->QueryInterface(IID_IID3ComFields, &found), S_OK);
    ASSERT_EQ(static_cast<IID3ComFields*>(found)->GetFields(&f), S_OK);
    static_cast<IID3ComFields*>(found)->Release();
    const BSTR texts[] = {f.title,    f.artist,     f.album,     f.year, f.comment,
                          f.composer, f.origArtist, f.copyright, f.url,  f.encodedBy};
    for (size_t i = 0; i < std::size(kProps); ++i) {
      const QString expected = Get(tag.Get(), kProps[i]);
      EXPECT_EQ(lb::QStringFromBstr(texts[i]), expected) << kProps[i].name;
      EXPECT_EQ(texts[i] == nullptr, expected.isEmpty()) << kProps[i].name;
    }
    BSTR genreText = nullptr, trackText = nullptr;
    tag->get_GenreText(&genreText);
    tag->get_TrackText(&trackText);
    EXPECT_EQ(lb::QStringFromBstr(f.genreText), lb::QStringFromBstr(genreText));
    EXPECT_EQ(lb::QStringFromBstr(f.trackText), lb::QStringFromBstr(trackText));
    EXPECT_EQ(f.hasV2Tag == VARIANT_TRUE, HasV2(tag.Get()));
    EXPECT_EQ(f.genre, Genre(tag.Get()));
    EXPECT_EQ(f.track, Track(tag.Get()));
    for (BSTR b : texts) SysFreeString(b);
    for (BSTR b : {f.genreText, f.trackText, genreText, trackText}) SysFreeString(b);
  }
}

namespace {

// Another writer changes the file between this save's read of the tag and its write (it
// holds the file's lock meanwhile): the save starts again from what the file holds then,
// and writes no head sized from the tag it read before.
TEST_F(ID3ComTest, ASaveAfterAnotherWritersChangeStartsFromWhatTheFileHolds) {
  const QByteArray audio = lbtest::Mp3Audio(200);
  const QString path = MakeFile(lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Old")}}) + audio);
  const QByteArray name = QFile::encodeName(path);
  ComPtr<IID3ComTag> tag = NewTag();
  ASSERT_EQ(Link(tag.Get(), path), S_OK);
  Put(tag.Get(), kProps[0], "New");
  const int held = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(held);  // the lock stays with the parent's open
    ::_exit(tag->SaveV2Tag() == S_OK ? 0 : 1);
  }
  // The save has read the tag and waits for the lock to write it.
  struct stat st {};
  ASSERT_EQ(::fstat(held, &st), 0);
  const QByteArray waiting = "-> FLOCK  ADVISORY  WRITE " + QByteArray::number(child) + " ";
  const QByteArray inode = ":" + QByteArray::number(qulonglong(st.st_ino)) + " ";
  const QDeadlineTimer deadline(120000);
  for (bool found = false; !found; ::usleep(1000)) {
    for (const QByteArray& line : lbtest::ReadFile("/proc/locks").split('\n'))
      found = found || (line.contains(waiting) && line.contains(inode));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the save ended without waiting";
    ASSERT_FALSE(deadline.hasExpired()) << "the save never waited for the lock";
  }
  const QByteArray other = lbtest::Id3v2(3, {{"TIT2", lbtest::TextBody("Other")},
                                             {"TALB", lbtest::TextBody(QString(3000, 'a'))}}) +
                           audio;
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.write(other) == other.size());
  f.close();
  ::close(held);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const QByteArray now = lbtest::ReadFile(path);
  const int tagSize =
      10 + ((now[6] & 0x7F) << 21 | (now[7] & 0x7F) << 14 | (now[8] & 0x7F) << 7 | (now[9] & 0x7F));
  EXPECT_EQ(now.size(), tagSize + audio.size());
  EXPECT_TRUE(now.endsWith(audio));
  ComPtr<IID3ComTag> again = NewTag();
  ASSERT_EQ(Link(again.Get(), path), S_OK);
  EXPECT_EQ(Get(again.Get(), kProps[0]), "New");
  EXPECT_TRUE(Get(again.Get(), kProps[2]) == QString(3000, 'a'));  // the other writer's album
}

}  // namespace
