// The Settings and About dialogs and DVM_DIALOG, driven by window messages
// under Xvfb.
#include "capture_rig.h"
#include "ui_script.h"
#include "res/resource.h"

namespace {

const char SettingsCaption[] = "Brightvane 7K42Q VideoIn Settings";
const char AboutCaption[] = "Brightvane 7K42Q VideoIn About";
const char SourceCaption[] = "Brightvane 7K42Q VideoIn Source";
const char FormatCaption[] = "Brightvane 7K42Q VideoIn Format";

struct ShellCall { int count; HWND window; std::string verb, file; const char *parameters, *directory; INT show; } Shell;

HINSTANCE WINAPI RecordShellExecute(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    Shell = {Shell.count + 1, window, verb ? verb : "", file ? file : "", parameters, directory, show};
    return reinterpret_cast<HINSTANCE>(42);
}

SC_HANDLE WINAPI RefuseManager(LPCSTR, LPCSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return NULL;
}

class Dialogs : public CaptureDriverTest {
protected:
    void SetUp() override
    {
        CaptureDriverTest::SetUp();
        Shell = {};
        shell.reset(new ImportPatch(module, "shell32.dll", "ShellExecuteA", (void *)RecordShellExecute));
        ASSERT_NE(shell->original, nullptr);
    }
    void TearDown() override
    {
        shell.reset();
        CaptureDriverTest::TearDown();
    }
    LRESULT Configure(const std::vector<UiStep> &steps, bool *finished)
    {
        LRESULT result = -77;
        *finished = RunModal([&] { result = Send(0, DRV_CONFIGURE, 0, 0); }, steps);
        return result;
    }
    // A step that waits for a dialog and remembers it.
    static UiStep Await(const char *caption, HWND *found)
    {
        return [=] { return (*found = FindDialog(caption)) != NULL; };
    }
    static UiStep Do(std::function<void()> action)
    {
        return [=] { action(); return true; };
    }
    std::unique_ptr<ImportPatch> shell;
};

TEST_F(Dialogs, ConfigureWithoutAnInstallationShowsTheSettingsDialog)
{
    HWND settings = NULL;
    bool finished;
    LRESULT result = Configure({Await(SettingsCaption, &settings), Do([&] { SendClick(settings, IDOK); })}, &finished);
    EXPECT_TRUE(finished);
    EXPECT_EQ(result, 1);
}

TEST_F(Dialogs, ConfigureAfterASuccessfulInstallationShowsTheAboutDialog)
{
    ASSERT_EQ(Send(0, DRV_INSTALL), DRVCNF_OK);
    HWND about = NULL;
    bool settingsSeen = false, finished;
    LRESULT result = Configure({Await(AboutCaption, &about),
                                Do([&] { settingsSeen = FindDialog(SettingsCaption) != NULL; SendClick(about, IDOK); })},
                               &finished);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(settingsSeen);
    EXPECT_EQ(result, 1);
}

TEST_F(Dialogs, ConfigureAfterAFailedInstallationShowsNothing)
{
    ImportPatch refuse(module, "advapi32.dll", "OpenSCManagerA", (void *)RefuseManager);
    ASSERT_EQ(Send(0, DRV_INSTALL), DRVCNF_CANCEL);
    // The script's timer ticks only inside a dialog's message loop.
    // (Should one show, the script's time limit ends it with OK.)
    bool ticked = false;
    LRESULT result = -77;
    RunModal([&] { result = Send(0, DRV_CONFIGURE, 0, 0); }, {[&] { ticked = true; return false; }}, 2000);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(ticked) << "a dialog was shown";
}

TEST_F(Dialogs, HelpShowsTheHelpTextInAnInformationBox)
{
    HWND settings = NULL;
    bool finished;
    Configure({Await(SettingsCaption, &settings), Do([&] { SendClick(settings, IDHELP); }),
               Do([&] { SendClick(settings, IDOK); })}, &finished);
    EXPECT_TRUE(finished);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].caption, "Brightvane 7K42Q VideoIn");
    EXPECT_EQ(warnings[0].style, 0x40u);
    EXPECT_EQ(warnings[0].owner, nullptr);
    EXPECT_EQ(warnings[0].text.size(), 145u);
    EXPECT_EQ(warnings[0].text.substr(0, 10), "Format --\n");
}

TEST_F(Dialogs, EscapeAndTheCloseBoxDoNothing)
{
    HWND settings = NULL, about = NULL;
    bool settingsStayed = false, aboutStayed = false, finished;
    auto escapeAndClose = [](HWND dialog) {
        PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    };
    int ticks = 0;
    Configure({Await(SettingsCaption, &settings), Do([&] { escapeAndClose(settings); }),
               [&] { return ++ticks == 4; },
               Do([&] { settingsStayed = IsWindowVisible(settings); PostClick(settings, IDC_ABOUT); }),
               Await(AboutCaption, &about), Do([&] { escapeAndClose(about); }),
               [&] { return ++ticks == 8; },
               Do([&] { aboutStayed = IsWindowVisible(about); SendClick(about, IDOK); }),
               Do([&] { SendClick(settings, IDOK); })},
              &finished);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(settingsStayed);
    EXPECT_TRUE(aboutStayed);
}

TEST_F(Dialogs, AboutOpensOverTheSettingsAndItsLinkOpensTheWebSite)
{
    HWND settings = NULL, about = NULL, owner = NULL, link = NULL;
    HCURSOR linkCursor = NULL;
    bool finished;
    Configure({Await(SettingsCaption, &settings), Do([&] { PostClick(settings, IDC_ABOUT); }),
               Await(AboutCaption, &about),
               Do([&] {
                   owner = GetWindow(about, GW_OWNER);
                   link = GetDlgItem(about, IDC_WEB_LINK);
                   linkCursor = reinterpret_cast<HCURSOR>(GetClassLongA(link, GCL_HCURSOR));
                   SendMessageA(about, WM_COMMAND, MAKEWPARAM(IDC_WEB_LINK, STN_CLICKED), reinterpret_cast<LPARAM>(link));
               }),
               Do([&] { SendClick(about, IDOK); }), Do([&] { SendClick(settings, IDOK); })},
              &finished);
    EXPECT_TRUE(finished);
    EXPECT_EQ(owner, settings);
    EXPECT_EQ(linkCursor, LoadCursorA(module, MAKEINTRESOURCEA(IDR_LINK_CURSOR)));
    EXPECT_NE(linkCursor, nullptr);
    ASSERT_EQ(Shell.count, 1);
    EXPECT_EQ(Shell.window, nullptr);
    EXPECT_EQ(Shell.verb, "open");
    EXPECT_EQ(Shell.file, "http://www.orvanta.example/");
    EXPECT_EQ(Shell.parameters, nullptr);
    EXPECT_EQ(Shell.directory, nullptr);
    EXPECT_EQ(Shell.show, SW_HIDE);
}

TEST_F(Dialogs, SourceAndFormatButtonsOpenTheirChannelAroundTheChannelDialog)
{
    HWND settings = NULL, source = NULL, format = NULL;
    BoardStatus during = {};
    bool finished;
    Configure({Await(SettingsCaption, &settings), Do([&] { PostClick(settings, IDC_SOURCE); }),
               Await(SourceCaption, &source),
               Do([&] { GetBoardStatus(&during); SendClick(source, IDCANCEL); }),
               [&] { return !IsWindow(source) && WaitForBoardClosed(); },
               Do([&] { PostClick(settings, IDC_FORMAT); }), Await(FormatCaption, &format),
               Do([&] { SendClick(format, IDCANCEL); }),
               [&] { return !IsWindow(format) && WaitForBoardClosed(); },
               Do([&] { SendClick(settings, IDOK); })},
              &finished);
    EXPECT_TRUE(finished);
    EXPECT_EQ(during.openers, 1u) << "the channel was open while its dialog showed";
    size_t opens = 0, closes = 0;
    for (const JournalEntry &e : ReadBoardJournal()) {
        opens += e.kind == JOURNAL_OPEN;
        closes += e.kind == JOURNAL_CLOSE;
    }
    EXPECT_EQ(opens, 2u);
    EXPECT_EQ(closes, 2u);
    EXPECT_TRUE(warnings.empty());
}

TEST_F(Dialogs, AnAbsentOrRefusingBoardGivesTheNotDetectedWarning)
{
    BoardFaults absent = {1, 1, 0, 0, 0};
    ASSERT_TRUE(SetBoardFaults(absent));
    HWND settings = NULL;
    bool sourceSeen = false, finished;
    Configure({Await(SettingsCaption, &settings), Do([&] { SendClick(settings, IDC_SOURCE); }),
               Do([&] { sourceSeen = FindDialog(SourceCaption) != NULL; FailDeviceOpens(ERROR_NOT_SUPPORTED); }),
               Do([&] { SendClick(settings, IDC_FORMAT); }), Do([&] { SendClick(settings, IDOK); })},
              &finished);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(sourceSeen);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].text, "Capture device was not detected.");
    EXPECT_EQ(warnings[1].text.substr(0, 24), "It appears that you are:") << "the refusal's own warning first";
    EXPECT_EQ(warnings[2].text, "Capture device was not detected.");
    EXPECT_EQ(warnings[0].style, 0x30u);
}

TEST_F(Dialogs, ChannelDialogQueriesAndResults)
{
    EXPECT_EQ(Send(4, DVM_DIALOG, 0, 0), DV_ERR_INVALHANDLE) << "no session: no dialog, no crash";
    ASSERT_EQ(OpenChannelOfType(VIDEO_EXTERNALIN), 1);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(Send(1, DVM_DIALOG, 0, VIDEO_DLG_QUERY), DV_ERR_OK);
    EXPECT_EQ(Send(4, DVM_DIALOG, 0, VIDEO_DLG_QUERY), DV_ERR_OK);
    EXPECT_EQ(Send(2, DVM_DIALOG, 0, VIDEO_DLG_QUERY), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(Send(2, DVM_DIALOG, 0, 0), DV_ERR_NOTSUPPORTED);
    EXPECT_EQ(FindDialog(SourceCaption), nullptr);
    for (int button : {IDOK, IDCANCEL}) {
        HWND format = NULL;
        LRESULT result = -1;
        EXPECT_TRUE(RunModal([&] { result = Send(4, DVM_DIALOG, 0, 0); },
                             {Await(FormatCaption, &format), Do([&] { SendClick(format, button); })}));
        EXPECT_EQ(result, DV_ERR_OK);
    }
    EXPECT_EQ(Send(1, DRV_CLOSE), 1);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

INT_PTR WINAPI RefuseDialog(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM)
{
    return -1;
}

TEST_F(Dialogs, ADialogThatCannotBeMadeIsAFailureNotASuccess)
{
    ImportPatch refuse(module, "user32.dll", "DialogBoxParamA", (void *)RefuseDialog);
    ASSERT_NE(refuse.original, nullptr);
    EXPECT_EQ(Send(0, DRV_CONFIGURE, 0, 0), DRVCNF_CANCEL);
    ASSERT_EQ(OpenChannelOfType(VIDEO_IN), 4);
    EXPECT_EQ(Send(4, DVM_DIALOG, 0, 0), DV_ERR_NOMEM);
    EXPECT_EQ(Send(4, DRV_CLOSE), 1);
}

}
