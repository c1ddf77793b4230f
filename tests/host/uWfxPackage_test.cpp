// The installable package, unpacked into a folder (TALV_PACKAGE_DIR; scripts/test_package.sh unzips
// dist/wfx_talvoran.zip there): what Total Commander reads from it, and the plug-in of this bitness
// loaded where it lies, starting the packaged engine and ending it again. Run only by that script
// (disabled in the ordinary test runs, which have no package).
#include <gtest/gtest.h>

#include "TestHost.h"
#include "TestSupport.h"
#include "pClock.h"
#include "pFile.h"
#include "pPipe.h"
#include "pSystem.h"

using namespace hosttest;

namespace {

std::string PackageDir() {
  return plat::GetEnv("TALV_PACKAGE_DIR");
}

std::string InPackage(const std::string& name) {
  return PackageDir() + plat::PathSeparator() + name;
}

bool EnginePipeThere() {
  return plat::PipeConnect(plat::kPipeName, 20, plat::SystemClock()) != nullptr;
}

}  // namespace

TEST(Package, DISABLED_HoldsTheInstallerFileBothPluginsBothEnginesAndTheDriverNote) {
  ASSERT_FALSE(PackageDir().empty()) << "TALV_PACKAGE_DIR names no unpacked package";
  const std::vector<std::string> inf =
      testsupport::SplitLines(testsupport::ReadWholeFile(InPackage("pluginst.inf")));
  ASSERT_FALSE(inf.empty());
  EXPECT_EQ(inf[0], "[plugininstall]");
  auto has = [&](const std::string& line) { return std::find(inf.begin(), inf.end(), line) != inf.end(); };
  EXPECT_TRUE(has("type=wfx"));
  EXPECT_TRUE(has("file=wfx_talvoran.wfx"));
  EXPECT_TRUE(has("defaultdir=talvoran"));
  EXPECT_TRUE(std::any_of(inf.begin(), inf.end(),
                          [](const std::string& l) { return l.rfind("description=", 0) == 0; }));
  for (const char* f :
       {"wfx_talvoran.wfx", "wfx_talvoran.wfx64", "talvoran_engine64.exe", "talvoran_engine32.exe"})
    EXPECT_TRUE(plat::FileExists(InPackage(f))) << f;
  const std::string note = testsupport::ReadWholeFile(InPackage("Receiver drivers.txt"));
  EXPECT_NE(note.find("rtlsdr.dll"), std::string::npos);
  EXPECT_NE(note.find("hackrf.dll"), std::string::npos);
}

TEST(Package, DISABLED_ThePluginLoadsWhereItLiesAndStartsAndEndsThePackagedEngine) {
  ASSERT_FALSE(PackageDir().empty()) << "TALV_PACKAGE_DIR names no unpacked package";
  ASSERT_FALSE(EnginePipeThere()) << "an engine already serves the pipe";
  TTestHost host;
  std::string error;
  ASSERT_TRUE(
      host.LoadInPlace(InPackage(sizeof(void*) == 8 ? "wfx_talvoran.wfx64" : "wfx_talvoran.wfx"), error))
      << error;
  EXPECT_EQ(host.MissingExports(), std::vector<std::string>{});
  ASSERT_EQ(host.InitW(), 0);
  EXPECT_TRUE(plat::FileExists(InPackage("wfx_talvoran.ini")));
  EXPECT_EQ(host.List("\\").Entries.size(), 7u);
  // No receiver library lies beside the engine: it starts, answers, and says which one is missing.
  std::string name = "\\Start Scan.cmd";
  EXPECT_EQ(host.Execute(name, "open"), 0);
  ASSERT_EQ(host.Messages.size(), 1u);
  EXPECT_EQ(host.Messages[0].Text.rfind("Could not start the scan:\r\n\r\n", 0), 0u);
  EXPECT_NE(host.Messages[0].Text.find("rtlsdr.dll"), std::string::npos) << host.Messages[0].Text;
  EXPECT_TRUE(EnginePipeThere());
  // Unloading sends QUIT: the engine ends within its watchdog's tick.
  host.Unload();
  const uint64_t end = plat::TickMs() + 8000;
  while (EnginePipeThere() && plat::TickMs() < end) plat::SleepMs(100);
  EXPECT_FALSE(EnginePipeThere());
}
