// The status page in a real browser (headless Chromium): its script runs without errors, a
// click on a profile's run link starts the stand-in and the page then shows it running, a
// screenshot of the page at laptop and phone width is kept as a test artefact, and a REF that a
// stranger's link chose neither runs a script on the error page nor turns its Back link into one.
#include <filesystem>
#include <string>

#include "tests/e2e/HttpEngineFixture.h"
#include "tests/e2e/LogFiles.h"

namespace {

const char kBrowser[] = "/usr/bin/chromium";

// Each harness below reports its result once and then removes its frames: with nothing left to
// run, the browser's virtual time reaches its budget at once and the DOM is dumped, where the
// pages' own refresh would otherwise keep asking the engine until the budget is spent, which on a
// crowded machine takes longer than the browser is given.
const std::string kReport = R"(function report(text) {
  document.getElementById('result').textContent = text;
  document.querySelectorAll('iframe').forEach(function (f) { f.remove(); });
}
)";

// Loads the status page in a frame, clicks the first run link and reports what it saw.
const std::string kHarness = R"(<!DOCTYPE html>
<html><body><div id="result">pending</div>
<iframe id="frame" src="/status.htm" style="width:1200px;height:800px"></iframe>
<script>
var frame = document.getElementById('frame');
var clicked = false, tries = 0;
)" + kReport + R"(function check() {
  var doc = frame.contentDocument;
  if (++tries > 400) { report('timeout'); return; }
  var loaded = doc && doc.body && doc.readyState === 'complete' && /\/status\.htm/.test(doc.URL);
  if (!loaded) { setTimeout(check, 50); return; }
  if (typeof frame.contentWindow.CheckRefresh !== 'function') { report('script missing'); return; }
  if (!clicked) {
    var link = doc.querySelector('a.run');
    if (!link) { setTimeout(check, 50); return; }
    clicked = true;
    link.click();
    setTimeout(check, 1500);
    return;
  }
  if (doc.querySelector('.state.running')) { report('running'); return; }
  setTimeout(check, 100);
}
check();
</script></body></html>
)";

// Loads the status page in a frame, marks the frame's window, starts a run with a request of its
// own and waits until the page shows the profile running: the mark tells whether the page got
// there by swapping its section in (mark kept) or by loading again (mark gone).
std::string SwapHarness(const std::string& runQuery) {
    return R"(<!DOCTYPE html>
<html><body><div id="result">pending</div>
<iframe id="frame" src="/status.htm" style="width:1200px;height:800px"></iframe>
<script>
var frame = document.getElementById('frame');
var started = false, tries = 0;
)" + kReport +
           R"(function check() {
  var doc = frame.contentDocument;
  if (++tries > 600) { report('timeout'); return; }
  var loaded = doc && doc.body && doc.readyState === 'complete' && doc.getElementById('ajaxsection');
  if (!loaded) { setTimeout(check, 50); return; }
  if (!started) {
    started = true;
    frame.contentWindow.zbMark = 'kept';
    var request = new XMLHttpRequest();
    request.open('GET', '/status.htm?)" +
           runQuery + R"(', true);
    request.send(null);
  }
  if (doc.querySelector('.state.running')) {
    report(frame.contentWindow.zbMark === 'kept' ? 'swapped' : 'reloaded');
    return;
  }
  setTimeout(check, 100);
}
check();
</script></body></html>
)";
}

// The add form in one frame and the browse page in another, which the form would have opened:
// a click on a profile of the browse page puts its path into the form's profile field.
std::string PickHarness(const std::string& folderQuery) {
    return R"(<!DOCTYPE html>
<html><body><div id="result">pending</div>
<iframe id="form" src="/profileform.htm" style="width:900px;height:600px"></iframe>
<iframe id="browse" src="/browse.htm?)" +
           folderQuery + R"(" style="width:600px;height:600px"></iframe>
<script>
var tries = 0;
)" + kReport +
           R"(function check() {
  var form = document.getElementById('form'), browse = document.getElementById('browse');
  var fd = form.contentDocument, bd = browse.contentDocument;
  if (++tries > 400) { report('timeout'); return; }
  var ready = fd && bd && fd.readyState === 'complete' && bd.readyState === 'complete' &&
      fd.getElementById('profileinput') && bd.querySelector('a[onclick^="assign_selection"]');
  if (!ready) { setTimeout(check, 50); return; }
  browse.contentWindow.opener = form.contentWindow;
  bd.querySelector('a[onclick^="assign_selection"]').click();
  report('picked:' + fd.getElementById('profileinput').value);
}
check();
</script></body></html>
)";
}

// The status page at laptop and phone width, each in a frame of that width: every piece of a
// profile's name between the page's own line breaks must lie on one line.
const std::string kNameHarness = R"(<!DOCTYPE html>
<html><body><div id="result">pending</div>
<iframe id="wide" src="/status.htm" style="width:1280px;height:900px;border:0"></iframe>
<iframe id="phone" src="/status.htm" style="width:390px;height:1600px;border:0"></iframe>
<script>
var tries = 0;
)" + kReport + R"(// The pieces of each name that render on more than one line, or '' when none does.
function broken(frame) {
  var doc = frame.contentDocument, faults = [];
  var links = doc.querySelectorAll('td.name > a');
  if (!links.length) return 'no names';
  links.forEach(function (link) {
    link.childNodes.forEach(function (node) {
      if (node.nodeType !== 3 || !node.textContent) return;
      var range = doc.createRange();
      range.selectNodeContents(node);
      var tops = {};
      Array.prototype.forEach.call(range.getClientRects(), function (r) { tops[Math.round(r.top)] = 1; });
      if (Object.keys(tops).length > 1) faults.push(frame.id + ':' + node.textContent);
    });
  });
  return faults.join(' ');
}
function check() {
  var frames = [document.getElementById('wide'), document.getElementById('phone')];
  if (++tries > 400) { report('timeout'); return; }
  var ready = frames.every(function (f) {
    return f.contentDocument && f.contentDocument.readyState === 'complete' &&
        f.contentDocument.querySelector('td.name > a');
  });
  if (!ready) { setTimeout(check, 50); return; }
  var faults = frames.map(broken).filter(function (t) { return t; }).join(' ');
  report(faults ? 'broken: ' + faults : 'whole');
}
check();
</script></body></html>
)";

// Opens the error page with each hostile REF in a frame, notes its Back link and clicks it; a
// script that ran, on the page or from the link, leaves its mark in this window.
const std::string kRefHarness = R"(<!DOCTYPE html>
<html><body><div id="result">pending</div>
<iframe id="frame" style="width:900px;height:600px"></iframe>
<script>
var refs = ['"><script>parent.zbInjected="page"</' + 'script>',
            "'><img src=x onerror=parent.zbInjected='image'>",
            'javascript:parent.zbInjected="link"'];
var frame = document.getElementById('frame');
var step = 0, tries = 0, seen = [];
)" + kReport + R"(function load() {
  frame.src = '/error.htm?n=' + step + '&RUN=x&REF=' + encodeURIComponent(refs[step]);
  setTimeout(check, 100);
}
function check() {
  var doc = frame.contentDocument;
  if (++tries > 600) { report('timeout'); return; }
  var back = doc && doc.readyState === 'complete' && doc.URL.indexOf('n=' + step + '&') >= 0 &&
      doc.querySelector('.toolbar a');
  if (!back) { setTimeout(check, 50); return; }
  seen.push(back.getAttribute('href'));
  back.click();
  if (++step < refs.length) { setTimeout(load, 500); return; }
  setTimeout(function() { report('ran:' + (window.zbInjected || 'nothing') + ' back:' + seen.join(' ')); }, 1000);
}
load();
</script></body></html>
)";

class HttpBrowserTest : public CHttpEngineTest {
   protected:
    // Runs the browser with a fresh profile; its standard output and error go to files.
    int Browser(const std::string& arguments, const std::string& name) {
        std::string profile = m_root.Path("browser-" + name);
        std::string command = std::string("timeout 90 ") + kBrowser +
                              " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                              " --disable-background-networking --disable-component-update --disable-sync"
                              " --enable-logging=stderr --v=0 --user-data-dir=" +
                              profile + " " + arguments + " >" + m_root.Path(name + ".out") + " 2>" +
                              m_root.Path(name + ".err");
        return std::system(command.c_str());
    }
    std::string Output(const std::string& name) { return ReadHostFile(m_root.Path(name + ".out")); }
    std::string Errors(const std::string& name) { return ReadHostFile(m_root.Path(name + ".err")); }
};

TEST_F(HttpBrowserTest, RunLinkStartsTheStandInAndThePageShowsIt) {
    ASSERT_TRUE(std::filesystem::exists(kBrowser)) << "scripts/setup.sh --tests installs chromium";
    std::string program = CopyOfEngine();
    // The harness lives only in this test's copy of the page folder (pages are read encrypted).
    WriteHostFile(m_root.Path("prog/html/zbtest.html"), kHarness);
    SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"noenc", u"1");
    WriteSettings(FourProfiles());
    StartEngine(4, program);
    std::string base = "http://127.0.0.1:" + std::to_string(m_nPort);

    Browser("--virtual-time-budget=30000 --dump-dom " + base + "/zbtest.html", "click");
    EXPECT_NE(Output("click").find("<div id=\"result\">running</div>"), std::string::npos) << Output("click");
    EXPECT_EQ(Errors("click").find("Uncaught"), std::string::npos) << Errors("click");
    EXPECT_TRUE(WaitForStandIn("gamma.fsf")) << "the first run link is the first profile of Home";

    std::string artefacts = BinDir() + "/../artefacts";
    std::filesystem::create_directories(artefacts);
    for (const auto& [name, size] :
         {std::pair{"status-page", "1280,1000"}, std::pair{"status-page-phone", "390,1600"}}) {
        std::string shot = artefacts + "/" + name + ".png";
        std::filesystem::remove(shot);
        Browser(std::string("--hide-scrollbars --window-size=") + size + " --screenshot=" + shot + " " +
                    base + "/status.htm",
                name);
        EXPECT_TRUE(std::filesystem::exists(shot)) << Errors(name);
        EXPECT_EQ(Errors(name).find("Uncaught"), std::string::npos) << Errors(name);
    }
}

TEST_F(HttpBrowserTest, ProfileNamesBreakOnlyWhereThePageBreaksThem) {
    ASSERT_TRUE(std::filesystem::exists(kBrowser)) << "scripts/setup.sh --tests installs chromium";
    std::string program = CopyOfEngine();
    WriteHostFile(m_root.Path("prog/html/zbnames.html"), kNameHarness);
    SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"noenc", u"1");
    const std::vector<TESTPROFILE> profiles = {{"every-minute.fsf", "", "every minute", 0.2},
                                               {"at-startup.fsf", "", "at start-up", 0.2}};
    WriteSettings(profiles);
    StartEngine(profiles.size(), program);
    std::string base = "http://127.0.0.1:" + std::to_string(m_nPort);
    // Their last runs' texts take the room the other columns may leave the names.
    Action("RUN=ALL");
    for (const TESTPROFILE& profile : profiles) {
        const std::string log = ProfilePath(profile.file.substr(0, profile.file.rfind('.')) + ".log");
        ASSERT_TRUE(zbtest::WaitForText([&] { return ReadHostFile(log); }, "END ID: 1", kBoundMs));
    }
    ASSERT_TRUE(zbtest::WaitForText(
        [&] {
            return zbtest::CountOf(StatusText(), "Successful.") >= 4 ? std::string("ran") : std::string();
        },
        "ran", kBoundMs));

    Browser("--virtual-time-budget=30000 --window-size=1700,1700 --dump-dom " + base + "/zbnames.html",
            "names");
    EXPECT_NE(Output("names").find("<div id=\"result\">whole</div>"), std::string::npos) << Output("names");
    EXPECT_EQ(Errors("names").find("Uncaught"), std::string::npos) << Errors("names");
}

TEST_F(HttpBrowserTest, StatusPageShowsARunByItsRefreshSectionWithoutLoadingAgain) {
    ASSERT_TRUE(std::filesystem::exists(kBrowser)) << "scripts/setup.sh --tests installs chromium";
    std::string program = CopyOfEngine();
    WriteHostFile(m_root.Path("prog/html/zbswap.html"),
                  SwapHarness("RUN=" + Encode(ProfileName("alpha.fsf"))));
    SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"noenc", u"1");
    WriteSettings(FourProfiles(), "<CHECKNEW>1</CHECKNEW><CHECKNEW_AFTERCHANGE>1</CHECKNEW_AFTERCHANGE>");
    StartEngine(4, program);
    std::string base = "http://127.0.0.1:" + std::to_string(m_nPort);

    Browser("--virtual-time-budget=60000 --dump-dom " + base + "/zbswap.html", "swap");
    EXPECT_NE(Output("swap").find("<div id=\"result\">swapped</div>"), std::string::npos) << Output("swap");
    EXPECT_EQ(Errors("swap").find("Uncaught"), std::string::npos) << Errors("swap");
}

TEST_F(HttpBrowserTest, BrowseWindowPicksAProfileIntoTheAddForm) {
    ASSERT_TRUE(std::filesystem::exists(kBrowser)) << "scripts/setup.sh --tests installs chromium";
    std::string program = CopyOfEngine();
    WriteHostFile(m_root.Path("prog/html/zbpick.html"),
                  PickHarness("CURRFOLDER=" + Encode(WindowsPath(m_root.Path("profiles")))));
    SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"noenc", u"1");
    WriteSettings(FourProfiles());
    StartEngine(4, program);
    std::string base = "http://127.0.0.1:" + std::to_string(m_nPort);

    Browser("--virtual-time-budget=30000 --dump-dom " + base + "/zbpick.html", "pick");
    EXPECT_NE(Output("pick").find("picked:" + ProfileName("alpha.fsf") + "</div>"), std::string::npos)
        << Output("pick");
    EXPECT_EQ(Errors("pick").find("Uncaught"), std::string::npos) << Errors("pick");
}

TEST_F(HttpBrowserTest, HostileReturnPageRunsNoScriptOnTheErrorPage) {
    ASSERT_TRUE(std::filesystem::exists(kBrowser)) << "scripts/setup.sh --tests installs chromium";
    std::string program = CopyOfEngine();
    WriteHostFile(m_root.Path("prog/html/zbref.html"), kRefHarness);
    SetMachineValue(u"software\\ZBEngine\\ZBEngine", u"noenc", u"1");
    WriteSettings(FourProfiles());
    StartEngine(4, program);
    std::string base = "http://127.0.0.1:" + std::to_string(m_nPort);

    Browser("--virtual-time-budget=30000 --dump-dom " + base + "/zbref.html", "ref");
    EXPECT_NE(
        Output("ref").find("<div id=\"result\">ran:nothing back:/status.htm /status.htm /status.htm</div>"),
        std::string::npos)
        << Output("ref");
}

}  // namespace
