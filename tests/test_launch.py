"""Creating the JVM and calling main, against the stand-in JVM library of tests/tools
(jni_stand_in.cpp), which records every JNI call and fails the step a test names: the launcher
system properties, the option list around them, the parameters of main, the first-run check,
each failure and its message, and the JVM's destruction after main."""

import re

import pytest

from harness import inspect, winpath
from harness.java_side import read_record

MESSAGES = {"1000": "Launch Test", "1005": "Could not start the application",
            "1009": "Internal error {0}", "1010": "The launcher class is missing",
            "1011": "The main method is missing"}
QUILLON_CLASS = "com/quillon/runtime/launcher/WinLauncher"
TARVO_CLASS = "com/tarvo/runtime/WinLauncher"
FIRST_RUN_CLASS = "com/quillon/runtime/launcher/FirstRun"


@pytest.fixture
def launch(pack, run, test_dir, stand_in_home):
    """launch(config=None, args=(), fail=(), env=None, name="app.exe", files=None, cmdline=None)
    packs a console application with the messages above, runs it on the stand-in runtime
    with a log and returns (result, calls, exe)."""

    def launch_app(config=None, args=(), fail=(), env=None, name="app.exe", files=None,
                   cmdline=None):
        full = {"applicationType": "console", "mainClass": "app.Main", "messages": MESSAGES,
                **(config or {})}
        exe = pack(full, name=name, files=files)
        record = test_dir / "jni-calls.jsonl"
        record.unlink(missing_ok=True)
        environment = {"QUILLON_JAVA_HOME": winpath(stand_in_home), "QUILLON_LOG": "yes",
                       "JNI_STAND_IN_RECORD": winpath(record),
                       "JNI_STAND_IN_FAIL": ",".join(fail), **(env or {})}
        if cmdline is not None:
            cmdline = cmdline.replace("{exe}", winpath(exe))
        result = run(exe, args=list(args), cmdline=cmdline, env=environment)
        return result, read_record(record), exe

    return launch_app


def calls_named(calls, name):
    return [c for c in calls if c["call"] == name]


def call_names(calls):
    """The sequence of calls without the bookkeeping of local references."""
    return [c["call"] for c in calls if c["call"] != "DeleteLocalRef"]


def jvm_options(calls):
    created = calls_named(calls, "JNI_CreateJavaVM")
    assert len(created) == 1
    return created[0]["options"]


def main_arguments(calls):
    mains = calls_named(calls, "CallStaticVoidMethod")
    assert len(mains) == 1
    return mains[0]["args"]


def launcher_properties(options):
    """(name, value) of the "-D" options ahead of the configured ones, up to the class path."""
    pairs = []
    for option in options:
        match = re.fullmatch(r"-D(tarvo\.\w+|sun\.java\.command|java\.library\.path)=(.*)",
                             option, re.S)
        if not match:
            break
        pairs.append((match.group(1), match.group(2)))
    return pairs


def semaphore_name(exe, number=""):
    return "Local\\" + re.sub(r"[\\ ]", "_", winpath(exe).lower()) + number


def stderr_message(result, text):
    return f"{text}\n\nLog: {winpath(result.log_path)}\n"


def test_a_launch_creates_the_jvm_calls_main_and_destroys_the_jvm(launch):
    result, calls, _ = launch(args=["one"])
    assert result.exit_code == 0
    assert result.stderr_text == ""
    created = calls_named(calls, "JNI_CreateJavaVM")[0]
    assert (created["version"], created["ignoreUnrecognized"], created["extraInfoNull"]) == \
        (0x10002, True, True)
    parameter_calls = ["NewString", "SetObjectArrayElement"] * 7
    assert call_names(calls) == [
        "JNI_CreateJavaVM", "FindClass", "GetStaticMethodID", "FindClass", "NewObjectArray",
        *parameter_calls, "CallStaticVoidMethod", "ExceptionOccurred", "DestroyJavaVM"]
    find_launcher, find_main, find_string = (calls[1], calls[2], calls[3])
    assert find_launcher["name"] == QUILLON_CLASS
    assert (find_main["class"], find_main["name"], find_main["signature"]) == \
        (QUILLON_CLASS, "main", "([Ljava/lang/String;)V")
    assert find_string["name"] == "java/lang/String"
    array = calls_named(calls, "NewObjectArray")[0]
    assert (array["length"], array["elementClass"]) == (7, "java/lang/String")
    assert [c["index"] for c in calls_named(calls, "SetObjectArrayElement")] == list(range(7))
    # Every local reference the launcher made is given back.
    assert len(calls_named(calls, "DeleteLocalRef")) == 7 + 3

    lines = [line for line in result.log.splitlines() if not line.startswith("vmoption ")]
    expected = ["launching program", "Creating JVM", "JVM created",
                f"main class: {QUILLON_CLASS}", "param count: 7", "param 6: one",
                "calling main", "main returned", "dest JVM", "launch done"]
    positions = [next(i for i, line in enumerate(lines) if line.endswith(text))
                 for text in expected]
    assert positions == sorted(positions)
    assert f"vmoption count {len(jvm_options(calls))}" in result.log


@pytest.mark.parametrize("config, env, args, name, expected_names", [
    pytest.param({}, {}, [], "my app.exe",
                 ["semaphoreName", "isQuillon", "moduleName", "sun.java.command", "tempDir",
                  "unextractedPosition", "java.library.path", "consoleCodepage"], id="quillon"),
    pytest.param({"flavor": "t"}, {}, [], "app.exe",
                 ["semaphoreName", "moduleName", "sun.java.command", "tempDir",
                  "unextractedPosition", "java.library.path", "consoleCodepage"], id="tarvo"),
    pytest.param({"keys": {"10005": "1"}}, {}, [], "app.exe",
                 ["semaphoreName", "isQuillon", "moduleName", "sun.java.command",
                  "processCommFile", "tempDir", "unextractedPosition", "java.library.path",
                  "consoleCodepage"], id="single-instance"),
    pytest.param({}, {"MANPATH": "/usr/share/man"}, [], "app.exe",
                 ["semaphoreName", "isQuillon", "moduleName", "sun.java.command", "tempDir",
                  "unextractedPosition", "java.library.path"], id="manpath"),
    pytest.param({"keys": {"10005": "1"}}, {}, ["__qln_lang_restart"], "app.exe",
                 ["isQuillon", "moduleName", "sun.java.command", "processCommFile", "tempDir",
                  "unextractedPosition", "java.library.path", "consoleCodepage"],
                 id="language-restart"),
])
def test_launcher_system_properties(launch, tmp_dir, config, env, args, name,
                                    expected_names):
    result, calls, exe = launch(config, args=args, env=env, name=name)
    assert result.exit_code == 0
    options = jvm_options(calls)
    properties = launcher_properties(options)
    names = [n.removeprefix("tarvo.") for n, _ in properties]
    assert names == expected_names
    assert options[len(properties):] == [options[-1]]
    assert options[-1].startswith("-Djava.class.path=")

    values = dict(properties)
    assert values["tarvo.moduleName"] == winpath(exe)
    assert values["sun.java.command"] == winpath(exe)
    assert values.get("tarvo.isQuillon", "true") == "true"
    assert values["tarvo.tempDir"] == ""
    restart = args[:1] == ["__qln_lang_restart"]
    single = "10005" in config.get("keys", {})
    if not restart:
        assert values["tarvo.semaphoreName"] == semaphore_name(exe, "" if single else "0")
    # Without included files the unextracted data begins where they would have.
    position = -1 if restart else inspect(exe)["unextractedOffset"]
    assert values["tarvo.unextractedPosition"] == str(position)
    if single:
        assert re.fullmatch(re.escape(winpath(tmp_dir)) + r"\\tvo_p\d+\.tmp",
                            values["tarvo.processCommFile"])
    if "consoleCodepage" in expected_names:
        assert values["tarvo.consoleCodepage"] == "cp0"


def test_included_files_set_temp_dir_and_unextracted_position(launch, test_dir, tmp_dir):
    (test_dir / "tail.bin").write_bytes(b"unextracted")
    result, calls, exe = launch({
        "includedFiles": [{"name": "a.txt", "source": "a.txt"}],
        "unextractedData": "tail.bin"}, files={"a.txt": "included"})
    assert result.exit_code == 0
    values = dict(launcher_properties(jvm_options(calls)))
    assert re.fullmatch(re.escape(winpath(tmp_dir)) + r"\\tvo\w+\.tmp_dir\d+",
                        values["tarvo.tempDir"])
    offset = inspect(exe)["unextractedOffset"]
    assert values["tarvo.unextractedPosition"] == str(offset)
    assert exe.read_bytes()[offset:] == b"unextracted"


def test_configured_options_sit_between_properties_and_class_path(launch):
    result, calls, _ = launch({"jvmOptions": ["-Xmx64m", "-Dgreeting=two words"]})
    assert result.exit_code == 0
    options = jvm_options(calls)
    count = len(launcher_properties(options))
    assert options[count:] == ["-Xmx64m", "-Dgreeting=two words", options[-1]]
    assert options[-1].startswith("-Djava.class.path=")


def library_path(calls):
    return dict(launcher_properties(jvm_options(calls)))["java.library.path"]


def test_library_path_is_path_up_to_its_limit(launch):
    short = r"C:\windows\system32;C:\windows"
    _, calls, _ = launch(env={"PATH": short})
    value = library_path(calls)
    # PATH as the JVM sees it: what the launcher was given, then the runtime's bin directory.
    assert value.startswith(short + ";") and value.lower().endswith("\\bin")
    added = len(value) - len(short)

    def path_of_length(total):
        filler = "C:\\" + "p" * (total - added - len(short) - 4) + ";"
        return filler + short

    _, calls, _ = launch(env={"PATH": path_of_length(11979)})
    assert len(library_path(calls)) == 11979
    _, calls, _ = launch(env={"PATH": path_of_length(11980)})
    assert library_path(calls) == ""



@pytest.mark.parametrize("config, args, expected", [
    pytest.param({}, [], ["false", "app.Main", "", "", "false", "{exe}"], id="program-path-only"),
    pytest.param({"arguments": ["fixed", "two words"]}, [],
                 ["false", "app.Main", "", "", "false", "{exe}", "fixed", "two words"],
                 id="fixed-arguments"),
    pytest.param({"arguments": ["${launcher:sys.launcherDirectory}x", "b"]}, ["c"],
                 ["false", "app.Main", "", "", "false", "{exe}", "{dir}\\x", "b", "c"],
                 id="fixed-arguments-expanded"),
    pytest.param({"applicationType": "gui", "mainClass": "com.example.Main",
                  "errorLog": "logs\\err.log", "outputLog": "$TEMP\\out.log",
                  "appendToLogs": True}, [],
                 ["true", "com.example.Main", "{dir}\\logs\\err.log", "$TEMP\\out.log", "true",
                  "{exe}"], id="all-launcher-parameters"),
    pytest.param({"errorLog": "${launcher:sys.launcherDirectory}sub\\..\\err.log",
                  "outputLog": "C:\\Logs\\Out.LOG"}, [],
                 ["false", "app.Main", "{dir}\\err.log", "C:\\Logs\\Out.LOG", "false", "{exe}"],
                 id="paths-expanded-normalized-case-kept"),
    pytest.param({"keys": {"103": "err.log", "105": "out.log", "106": "0"}}, [],
                 ["false", "app.Main", "", "", "false", "{exe}"], id="paths-switched-off"),
    pytest.param({}, ["-Jx", "-q", "-console", "a"],
                 ["false", "app.Main", "", "", "false", "{exe}", "-Jx", "-q", "-console", "a"],
                 id="j-words-and-switches-are-arguments"),
    pytest.param({"jvmOptionsFromCommandLine": True}, ["-J-Xmx32m", "a", "-J"],
                 ["false", "app.Main", "", "", "false", "{exe}", "a"],
                 id="j-words-are-jvm-options"),
    pytest.param({}, ["-Dsun.locale.formatasdefault=true", "a",
                      "-Dsun.locale.formatasdefault=false"],
                 ["false", "app.Main", "", "", "false", "{exe}", "a"], id="locale-word"),
    pytest.param({}, ["Grüße", "日本語", "€ and ∑", "Ω"],
                 ["false", "app.Main", "", "", "false", "{exe}", "Grüße", "日本語", "€ and ∑",
                  "Ω"], id="non-ascii"),
])
def test_main_parameters(launch, test_dir, config, args, expected):
    result, calls, exe = launch(config, args=args)
    assert result.exit_code == 0
    fill = {"{exe}": winpath(exe), "{dir}": winpath(test_dir)}
    assert main_arguments(calls) == [fill.get(e, e).replace("{dir}", winpath(test_dir))
                                     for e in expected]


def test_jvm_options_from_the_command_line_reach_the_jvm(launch):
    _, calls, _ = launch({"jvmOptionsFromCommandLine": True}, args=["-J-Xmx32m", "-Dx=y"])
    options = jvm_options(calls)
    assert "-Xmx32m" in options and "-Dx=y" not in options
    assert main_arguments(calls)[6:] == ["-Dx=y"]


def test_program_path_is_the_first_word_as_written(launch, test_dir):
    _, calls, _ = launch(cmdline="app.exe   'x y'")
    assert main_arguments(calls)[5:] == ["app.exe", "x y"]


FAILURES = [
    pytest.param(["create"], {}, MESSAGES["1005"], ["could not initialize JVM"],
                 [], id="creation"),
    pytest.param(["launcher-class"], {}, MESSAGES["1010"], ["could not find main class"],
                 [], id="launcher-class"),
    pytest.param(["main-method"], {}, MESSAGES["1011"], ["could not find main method"],
                 [], id="main-method"),
    pytest.param(["main-exception"], {}, MESSAGES["1005"],
                 ["an exception occured", "could not call main"],
                 ['Exception in thread "main" java.lang.IllegalStateException: thrown by main'],
                 id="exception-in-main"),
    pytest.param(["param-array"], {}, "Internal Error: paramArray (JavaVMLauncher)", [], [],
                 id="parameter-array"),
    pytest.param(["jstr:2"], {}, "Internal Error: jstr (JavaVMLauncher)", [], [],
                 id="parameter-string"),
    pytest.param(["first-run-class"], {"installationDirectory": "inst"}, "Internal error 14",
                 [], [], id="first-run-class"),
    pytest.param(["first-run-method"], {"installationDirectory": "inst"}, "Internal error 15",
                 [], [], id="first-run-method"),
]


@pytest.mark.parametrize("fail, config, message, log_errors, printed", FAILURES)
def test_failures_end_with_their_message_and_exit_code_1(launch, test_dir, tmp_dir, fail,
                                                         config, message, log_errors, printed):
    (test_dir / "inst" / ".quillon").mkdir(parents=True)
    (test_dir / "inst" / ".quillon" / "firstrun").write_text("")
    result, calls, _ = launch({"includedFiles": [{"name": "a.txt", "source": "a.txt"}],
                               **config}, fail=fail, files={"a.txt": "x"})
    assert result.exit_code == 1
    assert result.boxes == []
    assert result.stderr_text == "".join(p + "\n" for p in printed) + \
        stderr_message(result, message)
    for error in log_errors:
        assert f"ERROR: {error}" in result.log
    assert calls_named(calls, "CallStaticVoidMethod") == [] or fail == ["main-exception"]
    assert calls_named(calls, "DestroyJavaVM") == []
    # The fatal end removes the launcher temp directory with the extracted file.
    assert [p.name for p in tmp_dir.iterdir() if "_dir" in p.name] == []


def test_creation_failure_looks_up_nothing(launch):
    _, calls, _ = launch(fail=["create"])
    assert call_names(calls) == ["JNI_CreateJavaVM"]


def test_a_gui_application_shows_the_failure_in_a_box(launch):
    result, _, _ = launch({"applicationType": "gui"}, fail=["main-exception"])
    assert result.exit_code == 1
    assert (result.box.caption, result.box.icon) == ("Launch Test", "error")
    assert result.box.text == f"{MESSAGES['1005']}\n\nLog: {winpath(result.log_path)}"


STAND_IN_TRACE = ("java.lang.IllegalStateException: thrown by main\n"
                  "\tat stand.in.Frame.first(Frame.java:1)\n"
                  "\tat stand.in.Frame.second(Frame.java:2)\n")


def test_exception_escaping_main_leaves_its_trace_in_the_log(launch):
    result, calls, _ = launch(fail=["main-exception"])
    assert result.exit_code == 1
    log = result.log.replace("\r\n", "\n")
    assert "ERROR: an exception occured\n" + STAND_IN_TRACE in log
    # The trace is taken from the reference that main left, once standard error has it.
    names = call_names(calls)
    assert names.index("ExceptionDescribe") < names.index("CallVoidMethod")
    printing = calls_named(calls, "CallVoidMethod")
    assert [(c["object"], c["method"]) for c in printing] == \
        [("java/lang/IllegalStateException", "printStackTrace")]
    assert calls_named(calls, "ExceptionCheck")[-1]["pending"] is False


@pytest.mark.parametrize("step, failing_call, reason", [
    pytest.param("trace-writer", "NewObject", "new StringWriter", id="writer"),
    pytest.param("trace-method", "GetMethodID", "printStackTrace(PrintWriter)", id="method"),
    pytest.param("trace-print", "CallVoidMethod", "printStackTrace", id="print"),
    pytest.param("trace-chars", "GetStringChars", "GetStringChars", id="chars"),
])
def test_a_trace_that_cannot_be_logged_changes_nothing_else(launch, step, failing_call,
                                                            reason):
    result, calls, _ = launch(fail=["main-exception", step])
    assert result.exit_code == 1
    assert result.stderr_text == \
        'Exception in thread "main" java.lang.IllegalStateException: thrown by main\n' + \
        stderr_message(result, MESSAGES["1005"])
    assert f"ERROR: could not log the stack trace: {reason}" in result.log
    assert "stand.in.Frame" not in result.log
    assert "ERROR: could not call main" in result.log
    # The exception of the failed step is cleared before anything else happens.
    names = call_names(calls)
    failed_at = len(names) - 1 - names[::-1].index(failing_call)
    after = names[failed_at + 1:]
    cleared = after.index("ExceptionClear")
    assert set(after[:cleared]) == {"ExceptionCheck"}


def first_run_calls(calls):
    return [c for c in calls
            if c.get("name") in (FIRST_RUN_CLASS, "firstRun") or c.get("method") == "firstRun"]


@pytest.mark.parametrize("config, marker_dir, fail, asked, main_runs", [
    pytest.param({}, None, [], False, True, id="no-marker"),
    pytest.param({}, ".", [], True, True, id="marker-in-launcher-directory"),
    pytest.param({"installationDirectory": "inst"}, "inst", [], True, True,
                 id="marker-in-installation"),
    pytest.param({"installationDirectory": "inst"}, ".", [], False, True,
                 id="marker-elsewhere"),
    pytest.param({"flavor": "t"}, ".", [], False, True, id="tarvo-flavor-never-asks"),
    pytest.param({}, ".", ["first-run-false"], True, False, id="first-run-says-no"),
    pytest.param({}, ".", ["first-run-exception"], True, False, id="first-run-throws"),
])
def test_first_run_check(launch, test_dir, config, marker_dir, fail, asked, main_runs):
    if marker_dir is not None:
        marker = test_dir / marker_dir / ".quillon" / "firstrun"
        marker.parent.mkdir(parents=True)
        marker.write_text("")
    result, calls, _ = launch(config, fail=fail)
    assert result.exit_code == 0
    expected = [("FindClass", FIRST_RUN_CLASS), ("GetStaticMethodID", "firstRun"),
                ("CallStaticBooleanMethod", "firstRun")] if asked else []
    assert [(c["call"], c.get("name", c.get("method"))) for c in first_run_calls(calls)] == \
        expected
    if asked:
        lookup = calls_named(calls, "GetStaticMethodID")[0]
        assert lookup["signature"] == "()Z"
    assert bool(calls_named(calls, "CallStaticVoidMethod")) == main_runs
    # A stopped start still ends as after main: the JVM is destroyed.
    assert call_names(calls)[-1] == "DestroyJavaVM"
    if not main_runs:
        assert "checkFirstRun stopped further execution" in result.log
    if "first-run-exception" in fail:
        assert "java.lang.IllegalStateException: first run failed" in result.stderr_text
        assert calls_named(calls, "ExceptionDescribe")


def test_tarvo_flavor_calls_its_own_launcher_class(launch):
    _, calls, _ = launch({"flavor": "t"})
    assert calls_named(calls, "FindClass")[0]["name"] == TARVO_CLASS
    assert calls_named(calls, "CallStaticVoidMethod")[0]["class"] == TARVO_CLASS
