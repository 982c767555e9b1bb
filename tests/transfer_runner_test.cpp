// OssUploader and UrlDownloader, and the ToolRun core they share, against
// stand-in tools: shell scripts placed as the tool that record their arguments
// beside themselves and print what a case asks for. Every case runs for both
// runners; a runner's own forms (its progress fields, texts and log lines) come
// from its row in kRunners.

#include <QElapsedTimer>

#include <ostream>
#include <thread>
#include <tuple>

#include "argument_decoder.h"
#include "oss_uploader.h"
#include "test_support.h"
#include "url_downloader.h"

namespace {

using namespace TransferTest;

// What the suite does with a runner, the same for both.
class Runner {
public:
    virtual ~Runner() = default;
    virtual bool exec() = 0;
    virtual void kill() = 0;
    virtual std::string error() = 0;
    virtual Outcome run() = 0;
};

template <class Of>
class RunnerOf : public Runner {
public:
    template <class... Arguments>
    explicit RunnerOf(Arguments... arguments) : runner(std::move(arguments)...) {}
    bool exec() override { return runner.exec(); }
    void kill() override { runner.kill(); }
    std::string error() override { return runner.getErrorMessage(); }
    Outcome run() override { return outcomeOf(runner); }

private:
    Of runner;
};

using Uploader = RunnerOf<OssUploader>;
using Downloader = RunnerOf<UrlDownloader>;

OssUploader::OssEntry sampleEntry() {
    OssUploader::OssEntry entry;
    entry.ak = "AKID";
    entry.sk = "TOP-SECRET-sk";
    entry.bucket = "bucket";
    entry.endpoint = "127.0.0.1:9";
    entry.region = "cn-hangzhou";
    entry.key = "备份/2024 年.zip";
    entry.localFilename = "C:/用户/文档 1/报告.zip";
    entry.disableSsl = true;
    entry.s3ForcePathStyle = false;
    entry.withUploadFile = false;
    entry.uploadFile = "ignored.zip";
    return entry;
}

struct RunnerKind {
    const char* name;
    const char* tool;
    // The texts after the value of a progress message in this tool's form, and
    // in the other tool's.
    std::vector<std::string> texts;
    std::vector<std::string> otherTexts;
    std::string unexpectedExit;
    std::string startFailure;
    std::string startLog;
    bool startLogHasErrorCode;
    std::string killLog;
    // A value of the sample job that no log line may show in plain text.
    std::string secret;
    std::function<std::unique_ptr<Runner>()> make;
};

const std::vector<RunnerKind> kRunners = {
    {"Upload",
     "pvl_uploader.exe",
     {"进度"},
     {"1", "2"},
     "上传程序意外退出",
     "拉起上传程序失败 ",
     "拉起进程错误: ",
     true,
     "杀掉上传程序 ",
     "TOP-SECRET-sk",
     [] { return std::make_unique<Uploader>(sampleEntry(), 1); }},
    {"Download",
     "pvl_downloader.exe",
     {"100", "200"},
     {"abc"},
     "下载程序意外退出",
     "拉起下载程序失败 ",
     "拉起下载程序失败: ",
     false,
     "杀掉下载程序: ",
     "TOP-SECRET",
     [] {
         return std::make_unique<Downloader>(std::string("http://127.0.0.1:1/x?token=TOP-SECRET"),
                                             std::string("/tmp/x"));
     }},
};

void PrintTo(const RunnerKind& kind, std::ostream* os) { *os << kind.name; }

std::string joined(const std::vector<std::string>& texts) {
    std::string line;
    for (const std::string& text : texts) line += (line.empty() ? "" : " ") + text;
    return line;
}

// `pattern` with "{texts}" and "{other}" replaced by a progress message's texts
// in the runner's own form and in the other tool's.
QString expand(const RunnerKind& kind, const char* pattern) {
    return QString::fromUtf8(pattern)
        .replace("{texts}", QString::fromStdString(joined(kind.texts)))
        .replace("{other}", QString::fromStdString(joined(kind.otherTexts)));
}

// A stand-in tool that records its arguments beside itself, then runs `body`.
void placeStandIn(const char* tool, const QString& body) {
    placeScript(tool,
                "printf '%s\\n' \"$#\" > \"$0.argc\"\n"
                "printf '%s' \"$1\" > \"$0.arg\"\n" +
                    body);
}

// --- Reading the tool's messages: each read is one message ---

struct OutputCase {
    const char* name;
    // A shell script; "{texts}" and "{other}" as for expand().
    const char* script;
    bool ok;
    // "{unexpected}" stands for the runner's unexpected-exit text.
    std::string error;
    // The values of the progress reports; each report's texts are "{texts}".
    std::vector<std::string> progress;
};

// Separate printf calls with a pause arrive as separate reads; one printf is one write.
const OutputCase kOutputs[] = {
    {"ProgressReachesTheCallbackOnce",
     "printf 'PROGRESS 42 {texts}\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
     true,
     "",
     {"42"}},
    {"OtherToolsProgressFormIgnored",
     "printf 'PROGRESS 42 {other}\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
     true,
     "",
     {}},
    {"TwoBlanksMakeAnEmptyField",
     "printf 'PROGRESS  42 {texts}\\n'; sleep 0.6; printf 'RESULT SUCCESS\\n'",
     true,
     "",
     {}},
    {"NonNumericValueIsZero",
     "printf 'PROGRESS 4x2 {texts}\\r\\n'; sleep 0.6; printf 'RESULT SUCCESS\\r\\n'",
     true,
     "",
     {"0"}},
    {"TwoMessagesInOneReadIgnored",
     "printf 'PROGRESS 42 {texts}\\nPROGRESS 43 {texts}\\n'; sleep 0.6; "
     "printf 'RESULT SUCCESS\\n'",
     true,
     "",
     {}},
    {"StandardErrorIgnored",
     "printf 'PROGRESS 9 {texts}\\n' >&2; sleep 0.6; "
     "printf 'RESULT FAILED from stderr\\n' >&2; sleep 0.6; printf 'RESULT SUCCESS\\n'",
     true,
     "",
     {}},
    {"FailureMessageOfThreeWords",
     "printf 'RESULT HTTP_ERROR access is denied\\n'",
     false,
     "access is denied",
     {}},
    {"NonAsciiFailureText",
     "printf 'RESULT FILE_ERROR 无法 写入 文件\\n'",
     false,
     "无法 写入 文件",
     {}},
    // The text is read up to its first NUL byte and then trimmed as text: an
    // ideographic blank at its end and a blank before the NUL byte both go.
    {"FailureTextTrimmedAsText",
     "printf 'RESULT FILE_ERROR 写入失败\\343\\200\\200\\n'",
     false,
     "写入失败",
     {}},
    {"FailureTextCutAtNulThenTrimmed",
     "printf 'RESULT FILE_ERROR a b \\000 c\\n'",
     false,
     "a b",
     {}},
    {"NoResultWithExitCodeZero",
     "printf 'PROGRESS 1 {texts}\\n'; exit 0",
     false,
     "{unexpected}",
     {"1"}},
    {"SuccessThenNonZeroExitCode", "printf 'RESULT SUCCESS\\n'; exit 3", true, "", {}},
    {"FailureMergedWithProgressFailsWithoutText",
     "printf 'PROGRESS 1 {texts}\\nRESULT HTTP_ERROR a b\\n'",
     false,
     "",
     {}},
    {"SuccessInsideALongerBlock", "printf 'PROGRESS 1 {texts}\\nRESULT SUCCESS\\n'", true, "", {}},
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class OutputTest : public ::testing::TestWithParam<std::tuple<RunnerKind, OutputCase>> {
protected:
    void TearDown() override { removeFromAppFolder(std::get<0>(GetParam()).tool); }
};

TEST_P(OutputTest, ReportsProgressAndOutcome) {
    const auto& [kind, c] = GetParam();
    placeStandIn(kind.tool, expand(kind, c.script));
    std::vector<Report> progress;
    for (const std::string& value : c.progress) {
        Report report{value};
        report.insert(report.end(), kind.texts.begin(), kind.texts.end());
        progress.push_back(report);
    }
    const std::unique_ptr<Runner> runner = kind.make();
    const Outcome outcome = runner->run();
    EXPECT_EQ(outcome.ok, c.ok);
    EXPECT_EQ(outcome.error, c.error == "{unexpected}" ? kind.unexpectedExit : c.error);
    EXPECT_EQ(outcome.progress, progress);
}

INSTANTIATE_TEST_SUITE_P(Messages, OutputTest,
                         ::testing::Combine(::testing::ValuesIn(kRunners),
                                            ::testing::ValuesIn(kOutputs)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    std::get<1>(info.param).name;
                         });

// --- The run around the messages ---

class RunnerTest : public ::testing::TestWithParam<RunnerKind> {
protected:
    void TearDown() override { removeFromAppFolder(GetParam().tool); }
    LogCapture log;
};

TEST_P(RunnerTest, LogsTheCommandLineAndOutputNeverThePlainJob) {
    const RunnerKind& kind = GetParam();
    placeStandIn(kind.tool, expand(kind,
                                   "printf 'PROGRESS 5 {texts}\\n'; sleep 0.6; "
                                   "printf 'RESULT SUCCESS\\n'"));
    // No progress receiver: the messages are only collected.
    ASSERT_TRUE(kind.make()->exec());
    const std::string commandLine = appPath(kind.tool).toStdString() + " " +
                                    readFile(appPath(kind.tool) + ".arg").toStdString();
    // glog drops the last line break.
    EXPECT_EQ(log.messages(google::GLOG_INFO),
              (std::vector<std::string>{commandLine, commandLine + "\nPROGRESS 5 " +
                                                         joined(kind.texts) + "\nRESULT SUCCESS"}));
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.message.find(kind.secret), std::string::npos) << line.message;
    }
}

TEST_P(RunnerTest, MissingToolFailsWithItsText) {
    const RunnerKind& kind = GetParam();
    removeFromAppFolder(kind.tool);
    const Outcome outcome = kind.make()->run();
    EXPECT_FALSE(outcome.ok);
    ASSERT_EQ(outcome.error.rfind(kind.startFailure, 0), 0u) << outcome.error;
    const std::string errorText = outcome.error.substr(kind.startFailure.size());
    EXPECT_FALSE(errorText.empty());
    EXPECT_EQ(log.messages(google::GLOG_ERROR),
              std::vector<std::string>{kind.startLog + appPath(kind.tool).toStdString() + " " +
                                       (kind.startLogHasErrorCode ? "0 " : "") + errorText});
}

TEST_P(RunnerTest, ALaterRunIsJudgedByItsOwnOutput) {
    const RunnerKind& kind = GetParam();
    const std::unique_ptr<Runner> runner = kind.make();
    placeStandIn(kind.tool, "printf 'RESULT SUCCESS\\n'");
    EXPECT_TRUE(runner->exec());
    placeStandIn(kind.tool, expand(kind, "printf 'PROGRESS 1 {texts}\\n'"));
    EXPECT_FALSE(runner->exec());
    EXPECT_EQ(runner->error(), kind.unexpectedExit);
}

TEST_P(RunnerTest, KillBeforeExecOnlyLogs) {
    const RunnerKind& kind = GetParam();
    kind.make()->kill();
    EXPECT_EQ(log.messages(google::GLOG_WARNING), std::vector<std::string>{kind.killLog});
}

TEST_P(RunnerTest, KillEndsARunningToolAndTheRunFails) {
    const RunnerKind& kind = GetParam();
    placeStandIn(kind.tool, expand(kind, "printf 'PROGRESS 1 {texts}\\n'; exec sleep 30"));
    const std::unique_ptr<Runner> runner = kind.make();
    std::thread killer([this, &runner] {
        // The run's first log line comes after the program is set, and the
        // capture's lock orders that before the kill, which logs the program.
        while (log.messages(google::GLOG_INFO).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        runner->kill();
    });
    QElapsedTimer timer;
    timer.start();
    const bool ok = runner->exec();
    killer.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(runner->error(), kind.unexpectedExit);
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST_P(RunnerTest, AboutToQuitKills) {
    const RunnerKind& kind = GetParam();
    const std::unique_ptr<Runner> runner = kind.make();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    EXPECT_EQ(log.messages(google::GLOG_WARNING), std::vector<std::string>{kind.killLog});
}

INSTANTIATE_TEST_SUITE_P(Runners, RunnerTest, ::testing::ValuesIn(kRunners),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The job: one encoded argument holding the JSON text ---

struct JobCase {
    const char* name;
    const char* tool;
    std::function<std::unique_ptr<Runner>()> make;
    const char* json;
};

void PrintTo(const JobCase& c, std::ostream* os) { *os << c.name; }

class JobTest : public ::testing::TestWithParam<JobCase> {
protected:
    void TearDown() override { removeFromAppFolder(GetParam().tool); }
};

TEST_P(JobTest, SendsTheJobAsOneEncodedArgument) {
    const JobCase& c = GetParam();
    placeStandIn(c.tool, "printf 'RESULT SUCCESS\\n'");
    ASSERT_TRUE(c.make()->exec());
    EXPECT_EQ(readFile(appPath(c.tool) + ".argc"), QByteArray("1\n"));
    QByteArray json;
    QString error;
    ASSERT_TRUE(ArgumentDecoder::decode(QString::fromLatin1(readFile(appPath(c.tool) + ".arg")),
                                        json, error));
    EXPECT_EQ(QString::fromUtf8(json), QString::fromUtf8(c.json));
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobTest,
    ::testing::Values(
        // Compact, keys sorted, no "upload_file" unless asked for.
        JobCase{"Upload", "pvl_uploader.exe",
                [] { return std::make_unique<Uploader>(sampleEntry(), 4); },
                "{\"disable_ssl\":true,\"local_filename\":\"C:/用户/文档 1/报告.zip\","
                "\"oss_ak\":\"AKID\",\"oss_bucket\":\"bucket\",\"oss_endpoint\":\"127.0.0.1:9\","
                "\"oss_key\":\"备份/2024 年.zip\",\"oss_region\":\"cn-hangzhou\","
                "\"oss_sk\":\"TOP-SECRET-sk\",\"pool_size\":4,\"s3_force_path_style\":false}"},
        // An empty string is still sent; the file name comes last.
        JobCase{"UploadWithFileName", "pvl_uploader.exe",
                [] {
                    OssUploader::OssEntry entry = sampleEntry();
                    entry.withUploadFile = true;
                    entry.ak.clear();
                    return std::make_unique<Uploader>(entry, 1);
                },
                "{\"disable_ssl\":true,\"local_filename\":\"C:/用户/文档 1/报告.zip\","
                "\"oss_ak\":\"\",\"oss_bucket\":\"bucket\",\"oss_endpoint\":\"127.0.0.1:9\","
                "\"oss_key\":\"备份/2024 年.zip\",\"oss_region\":\"cn-hangzhou\","
                "\"oss_sk\":\"TOP-SECRET-sk\",\"pool_size\":1,\"s3_force_path_style\":false,"
                "\"upload_file\":\"ignored.zip\"}"},
        // Indented; non-ASCII and quotes reach the tool unchanged.
        JobCase{"Download", "pvl_downloader.exe",
                [] {
                    return std::make_unique<Downloader>(
                        std::string("http://127.0.0.1/文件 1.zip?a=\"b\""),
                        std::string("C:/用户/下载 目录/文件.zip"));
                },
                "{\n    \"save_filename\": \"C:/用户/下载 目录/文件.zip\",\n"
                "    \"url\": \"http://127.0.0.1/文件 1.zip?a=\\\"b\\\"\"\n}\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
