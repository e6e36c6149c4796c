#include "app/core/WebServerController.h"

#include <gtest/gtest.h>

#include <vector>

#include "TempDir.h"
#include "platform/Exception.h"

namespace driftpost {
namespace {

using testing::TempDir;
using testing::WriteFile;

class WebServerControllerTest : public ::testing::Test {
 protected:
  WebServerControllerTest() {
    controller.OnStartServer = [this](const std::string& port) { startedPorts.push_back(port); };
    controller.ListAddresses = [] { return std::vector<TInterfaceAddress>{{"192.168.1.20", false}}; };
  }

  std::vector<std::string> LogLines() const { return {log.Lines().begin(), log.Lines().end()}; }

  TempDir dir;
  TConsoleLog log{nullptr};
  TWebServerController controller{log, dir.File("driftpost.ini"), "/opt/drift post/driftpost"};
  std::vector<std::string> startedPorts;
};

TEST_F(WebServerControllerTest, WithoutSettingsFileStartsOnPort80AtTheDesignBounds) {
  log.LogLine("left from before");
  controller.InitOnce();
  EXPECT_TRUE(controller.Initialized());
  EXPECT_EQ(controller.PortText(), "80");
  EXPECT_FALSE(controller.DisplayHeader());
  EXPECT_EQ(controller.ClientCountText(), "0");
  EXPECT_EQ(controller.Placement().Bounds, ConsoleDesignBounds);
  EXPECT_EQ(controller.Placement().State, TWindowState::wsNormal);
  EXPECT_EQ(LogLines(), std::vector<std::string>{BannerLine});
  EXPECT_EQ(startedPorts, std::vector<std::string>{"80"});
}

TEST_F(WebServerControllerTest, WithoutAStartHookOnlyTheBannerIsLogged) {
  controller.OnStartServer = nullptr;
  controller.InitOnce();
  EXPECT_EQ(LogLines(), std::vector<std::string>{BannerLine});
}

TEST_F(WebServerControllerTest, ReadsPortHeaderSwitchAndPlacementFromTheSettings) {
  WriteFile(dir.File("driftpost.ini"),
            "[data]\r\nport= 8080 \r\nDisplayHeader=257\r\n[WebServer]\r\nLeft=10\r\nTop=20\r\nWidth=500\r\n"
            "Height=400\r\nWS=2\r\n");
  controller.InitOnce();
  EXPECT_EQ(startedPorts, std::vector<std::string>{"8080"});
  EXPECT_TRUE(controller.DisplayHeader());
  EXPECT_EQ(controller.RequestTimeout(), 60);
  EXPECT_EQ(controller.Placement().Bounds, (TWindowGeometry{10, 20, 500, 400}));
  EXPECT_EQ(controller.Placement().State, TWindowState::wsMaximized);
  // What the user types into the port field is trimmed the same way.
  controller.SetPortText(" \t8081 \r");
  controller.StartButtonClick();
  EXPECT_EQ(startedPorts, (std::vector<std::string>{"8080", "8081"}));
}

TEST_F(WebServerControllerTest, FailedStartLeavesOnlyTheBannerAndNeverRunsAgain) {
  int attempts = 0;
  controller.OnStartServer = [&attempts](const std::string&) {
    ++attempts;
    throw Exception("Error 10048 in function Bind\r\nAddress already in use");
  };
  try {
    controller.InitOnce();
    FAIL() << "the start failure must leave InitOnce";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Error 10048 in function Bind\r\nAddress already in use");
  }
  EXPECT_TRUE(controller.Initialized());
  EXPECT_EQ(LogLines(), std::vector<std::string>{BannerLine});
  EXPECT_TRUE(controller.PortEditEnabled());

  // Showing the console later runs InitOnce again, which must do nothing.
  EXPECT_NO_THROW(controller.InitOnce());
  EXPECT_EQ(attempts, 1);
  EXPECT_EQ(LogLines(), std::vector<std::string>{BannerLine});
}

TEST_F(WebServerControllerTest, ServerEventsSwitchTheControlsLogAndCountClients) {
  controller.InitOnce();
  controller.ServerStarted();
  EXPECT_FALSE(controller.PortEditEnabled() || controller.StartButtonEnabled());
  EXPECT_TRUE(controller.StopButtonEnabled());
  // The server counts a new client before it tells, and a leaving one until after.
  controller.ClientConnect(1);
  controller.ClientConnect(2);
  EXPECT_EQ(controller.ClientCountText(), "2");
  controller.ClientDisconnect(2);
  EXPECT_EQ(controller.ClientCountText(), "1");
  controller.ClientDisconnect(1);
  EXPECT_EQ(controller.ClientCountText(), "0");
  controller.ServerStopped();
  EXPECT_TRUE(controller.PortEditEnabled() && controller.StartButtonEnabled());
  EXPECT_FALSE(controller.StopButtonEnabled());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{BannerLine, ServerStartedLine, "Open http://192.168.1.20/ on the Newton",
                                                  ServerStoppedLine}));
}

TEST_F(WebServerControllerTest, StartedServerTellsEveryAddressAndTheStatusLineTheFirst) {
  WriteFile(dir.File("driftpost.ini"), "[Data]\r\nPort= 8080 \r\n");
  controller.ListAddresses = [] {
    return std::vector<TInterfaceAddress>{{"127.0.0.1", true}, {"192.168.1.20", false}, {"10.0.0.7", false}};
  };
  EXPECT_EQ(controller.StatusLine(), "");
  controller.InitOnce();
  controller.ServerStarted();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{BannerLine, ServerStartedLine,
                                                  "Open http://192.168.1.20:8080/ on the Newton",
                                                  "Open http://10.0.0.7:8080/ on the Newton"}));
  EXPECT_EQ(controller.StatusLine(), "Open http://192.168.1.20:8080/ on the Newton");
  // The port the server reports wins over the text that asked for it.
  controller.ServerStarted("80");
  EXPECT_EQ(controller.StatusLine(), "Open http://192.168.1.20/ on the Newton");
  controller.ServerStopped();
  EXPECT_EQ(controller.StatusLine(), NotServingLine);
}

TEST_F(WebServerControllerTest, PortFromTheCommandLineWinsAndTheSettingsStayAsTheyAre) {
  const std::string settings = "[Data]\r\nPort=80\r\n";
  WriteFile(dir.File("driftpost.ini"), settings);
  controller.OverridePort("8081");
  controller.InitOnce();
  EXPECT_EQ(startedPorts, std::vector<std::string>{"8081"});
  EXPECT_EQ(controller.PortText(), "8081");
  EXPECT_EQ(testing::ReadFile(dir.File("driftpost.ini")), settings);
}

TEST_F(WebServerControllerTest, MissingRightToBindALowPortIsExplainedAfterTheError) {
  const std::string message = "Error 10013 in function Bind\r\nPermission denied";
  controller.OnStartServer = [&message](const std::string&) { throw Exception(message); };
  EXPECT_THROW(controller.InitOnce(), Exception);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{BannerLine, BindPermissionHint("/opt/drift post/driftpost",
                                                                                 dir.File("driftpost.ini"))}));
  EXPECT_NE(LogLines().back().find("sudo setcap cap_net_bind_service=+ep /opt/drift post/driftpost"),
            std::string::npos);
  EXPECT_NE(LogLines().back().find("Port=8080"), std::string::npos);
  EXPECT_EQ(controller.StatusLine(), NotServingLine);
}

}  // namespace
}  // namespace driftpost
