// The registry stand-in: rooted and relative key navigation, values, case rules,
// the file format and sharing the store between objects, threads and processes.
#include "platform/Registry.h"

#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

#include <gtest/gtest.h>

namespace {

QString RootFile(const char* name) {
  return lb::RegistryDir() + "/" + name;
}

// Rewrites the file with the same bytes under a new inode, as another process's save
// would: the cached copy must be dropped and the file parsed again.
void RewriteFromDisk(const char* name) {
  QByteArray bytes = lbtest::ReadFile(RootFile(name));
  QSaveFile out(RootFile(name));
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(bytes);
  ASSERT_TRUE(out.commit());
}

TEST(Registry, OpenKeyRelativeRootedAndCreate) {
  TRegistry reg(HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("\\Nav\\A\\B", false));
  ASSERT_TRUE(reg.OpenKey("\\Nav\\A\\B", true));
  EXPECT_EQ(reg.CurrentPath(), "Nav\\A\\B");
  // Relative to the open key.
  ASSERT_TRUE(reg.OpenKey("C", true));
  EXPECT_EQ(reg.CurrentPath(), "Nav\\A\\B\\C");
  // Rooted again.
  ASSERT_TRUE(reg.OpenKey("\\Nav", false));
  EXPECT_EQ(reg.CurrentPath(), "Nav");
  EXPECT_TRUE(reg.KeyExists("A\\B\\C"));
  EXPECT_TRUE(reg.KeyExists("\\Nav\\A"));
  EXPECT_FALSE(reg.KeyExists("B"));
  EXPECT_EQ(reg.GetKeyNames(), QStringList{"A"});
  // With no key open, a relative path starts at the root.
  reg.CloseKey();
  EXPECT_TRUE(reg.KeyExists("Nav\\A\\B"));
  // Roots are separate stores.
  TRegistry classes(HKEY_CLASSES_ROOT);
  EXPECT_FALSE(classes.KeyExists("\\Nav"));
}

TEST(Registry, ValuesStringsIntegersAndDefaults) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Values", true));
  EXPECT_TRUE(reg.WriteString("Name", "text"));
  EXPECT_TRUE(reg.WriteString("", "default"));
  EXPECT_TRUE(reg.WriteInteger("Count", 42));
  EXPECT_TRUE(reg.WriteInteger("Negative", -7));
  EXPECT_EQ(reg.ReadString("Name"), "text");
  EXPECT_EQ(reg.ReadString(""), "default");
  EXPECT_EQ(reg.ReadInteger("Count"), 42);
  EXPECT_EQ(reg.ReadInteger("Negative"), -7);
  EXPECT_EQ(reg.ReadString("Count"), "42");
  EXPECT_EQ(reg.ReadInteger("Missing", 99), 99);
  EXPECT_EQ(reg.ReadString("Missing"), "");
  EXPECT_EQ(reg.ReadInteger("Name", 5), 5);  // text that is no number
  // Overwriting keeps one value and may change its type.
  EXPECT_TRUE(reg.WriteString("Count", "x"));
  EXPECT_EQ(reg.GetValueNames(), (QStringList{"Name", "", "Count", "Negative"}));
  EXPECT_TRUE(reg.DeleteValue("Name"));
  EXPECT_FALSE(reg.DeleteValue("Name"));
  EXPECT_FALSE(reg.ValueExists("Name"));

  RewriteFromDisk("HKCU.reg");
  EXPECT_EQ(reg.ReadInteger("Negative"), -7);
  EXPECT_EQ(reg.ReadString(""), "default");
}

TEST(Registry, NamesIgnoreCaseButKeepIt) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Software\\Corvane\\Lyrabox Tools", true));
  ASSERT_TRUE(reg.WriteString("HandleToMainWindow", "1"));
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\corvane\\LYRABOX TOOLS", false));
  EXPECT_EQ(reg.ReadString("handletomainwindow"), "1");
  EXPECT_TRUE(reg.WriteString("HANDLETOMAINWINDOW", "2"));
  EXPECT_EQ(reg.GetValueNames(), QStringList{"HandleToMainWindow"});
  ASSERT_TRUE(reg.OpenKey("\\software", false));
  EXPECT_EQ(reg.GetKeyNames(), QStringList{"Corvane"});
  // Cyrillic names fold too.
  ASSERT_TRUE(reg.OpenKey("\\Списки", true));
  EXPECT_TRUE(reg.KeyExists("\\СПИСКИ"));
}

TEST(Registry, DeleteKeyRemovesTheWholeBranchOnly) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Del\\Branch\\Leaf\\Deeper", true));
  ASSERT_TRUE(reg.WriteInteger("v", 1));
  ASSERT_TRUE(reg.OpenKey("\\Del\\BranchSibling", true));  // shares the prefix
  ASSERT_TRUE(reg.OpenKey("\\Del", false));
  EXPECT_TRUE(reg.HasSubKeys());
  EXPECT_TRUE(reg.DeleteKey("branch"));
  EXPECT_FALSE(reg.KeyExists("\\Del\\Branch\\Leaf\\Deeper"));
  EXPECT_FALSE(reg.KeyExists("\\Del\\Branch"));
  EXPECT_TRUE(reg.KeyExists("\\Del\\BranchSibling"));
  EXPECT_FALSE(reg.DeleteKey("Branch"));
  // A key deleted under an open object: writes to it fail instead of reviving it.
  TRegistry other;
  ASSERT_TRUE(other.OpenKey("\\Del\\BranchSibling", false));
  EXPECT_TRUE(reg.DeleteKey("BranchSibling"));
  EXPECT_FALSE(other.WriteString("x", "y"));
  EXPECT_FALSE(reg.KeyExists("\\Del\\BranchSibling"));
}

TEST(Registry, EscapedTextSurvivesTheFile) {
  const QString tricky = "C:\\Music\\\"quoted\" ]\nline2\r\\\\end Привет";
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Esc", true));
  ASSERT_TRUE(reg.WriteString("path \"x\" \\ y", tricky));
  RewriteFromDisk("HKCU.reg");
  EXPECT_EQ(reg.ReadString("path \"x\" \\ y"), tricky);
  QByteArray file = lbtest::ReadFile(RootFile("HKCU.reg"));
  EXPECT_TRUE(file.contains("Привет"));  // stored as UTF-8 text
  // One value on one line: the line break is escaped.
  EXPECT_TRUE(file.contains("\"path \\\"x\\\" \\\\ y\"=\"C:\\\\Music\\\\\\\"quoted\\\" ]\\nline2"));
}

TEST(Registry, TwoObjectsAndOutsideWritesAreSeen) {
  TRegistry a, b;
  ASSERT_TRUE(a.OpenKey("\\Shared", true));
  ASSERT_TRUE(b.OpenKey("\\Shared", false));
  ASSERT_TRUE(a.WriteInteger("n", 1));
  EXPECT_EQ(b.ReadInteger("n"), 1);
  // Another process replaces the file.
  QSaveFile out(RootFile("HKCU.reg"));
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write("LBTools Registry 1\n\n[Shared]\n\"n\"=dword:00000002\n\"s\"=\"outside\"\n");
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(b.ReadInteger("n"), 2);
  EXPECT_EQ(a.ReadString("s"), "outside");
}

TEST(Registry, ManyWritesKeepTheFileParseable) {
  TRegistry reg;
  for (int i = 0; i < 150; ++i) {
    ASSERT_TRUE(reg.OpenKey(QString("\\Many\\K%1").arg(i % 10), true));
    ASSERT_TRUE(reg.WriteString(QString("s%1").arg(i), QString("v\"%1\\").arg(i)));
    ASSERT_TRUE(reg.WriteInteger(QString("i%1").arg(i), i * 1000));
  }
  // Every line of the file is a header, a key, a value or empty.
  static const QRegularExpression line(
      R"(^(|LBTools Registry 1|\[[^\n]*\]|(@|"(\\.|[^"\\])*")=("(\\.|[^"\\])*"|dword:[0-9a-f]{8}))$)");
  const QList<QByteArray> lines = lbtest::ReadFile(RootFile("HKCU.reg")).split('\n');
  for (const QByteArray& l : lines)
    EXPECT_TRUE(line.match(QString::fromUtf8(l)).hasMatch()) << l.constData();
  RewriteFromDisk("HKCU.reg");
  ASSERT_TRUE(reg.OpenKey("\\Many\\K3", false));
  EXPECT_EQ(reg.ReadString("s143"), "v\"143\\");
  EXPECT_EQ(reg.ReadInteger("i143"), 143000);
  EXPECT_EQ(reg.GetValueNames().size(), 30);
}

// The work of the child processes the test below starts: writes values of its own into
// HKCU. It is registered only in those processes, so test discovery never lists it.
class RegistryChildWrite : public ::testing::Test {
 protected:
  void TestBody() override {
    const QByteArray id = qgetenv("LB_REG_CHILD");
    // The test main gave this process a registry of its own: use the parent's.
    qputenv("LBTOOLS_REGISTRY_DIR", qgetenv("LB_REG_CHILD_DIR"));
    TRegistry reg;
    for (int i = 0; i < 30; ++i) {
      ASSERT_TRUE(reg.OpenKey("\\Processes", true));
      ASSERT_TRUE(reg.WriteInteger(QString("p%1_%2").arg(QString::fromLatin1(id)).arg(i), i));
    }
  }
};
[[maybe_unused]] const bool kChildRegistered = [] {
  if (qEnvironmentVariableIsEmpty("LB_REG_CHILD")) return false;
  ::testing::RegisterTest("RegistryChild", "WriteValues", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> ::testing::Test* { return new RegistryChildWrite; });
  return true;
}();

TEST(Registry, ConcurrentProcessesLoseNoWrite) {
  QList<QProcess*> children;
  for (int c = 0; c < 3; ++c) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LB_REG_CHILD", QString::number(c));
    env.insert("LB_REG_CHILD_DIR", lb::RegistryDir());
    p->setProcessEnvironment(env);
    p->start(QCoreApplication::applicationFilePath(), {"--gtest_filter=RegistryChild.WriteValues"});
    children.append(p);
  }
  for (QProcess* p : children) {
    ASSERT_TRUE(p->waitForFinished(60000));
    EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardOutput().constData();
    delete p;
  }
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\Processes", false));
  EXPECT_EQ(reg.GetValueNames().size(), 90);
  EXPECT_EQ(reg.ReadInteger("p2_29"), 29);
}

}  // namespace

namespace {

TEST(Registry, FullDiskChangeFailsAndKeepsTheStore) {
  lbtest::SmallFileSystem fs(64);
  if (!fs.Ok()) GTEST_SKIP() << "a small file system needs root here";
  const QByteArray saved = qgetenv("LBTOOLS_REGISTRY_DIR");
  qputenv("LBTOOLS_REGISTRY_DIR", QFile::encodeName(fs.Path()));
  {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey("\\Full", true));
    ASSERT_TRUE(reg.WriteString("Name", "old"));
    const QByteArray before = lbtest::ReadFile(RootFile("HKCU.reg"));
    fs.Fill(1);  // room for the lock file only
    EXPECT_FALSE(reg.WriteString("Name", "a new and longer value"));
    EXPECT_EQ(lbtest::ReadFile(RootFile("HKCU.reg")), before);
    EXPECT_EQ(reg.ReadString("Name"), "old");
  }
  qputenv("LBTOOLS_REGISTRY_DIR", saved);
}

}  // namespace
