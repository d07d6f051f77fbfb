// The message and error-reason tables: EUC-KR bytes that decode to the exact texts, the answers
// for codes outside the tables, the buffer form and the one-time fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "Logger.h"
#include "MessageRes.h"
#include "SGCodec.h"
#include "SGMemory.h"
#include "TokenManagerError.h"
#include "TokenTestSupport.h"

namespace {

struct Row {
    int code;
    const char* text;
};

// The texts as the user sees them, in UTF-8; typed apart from the table's source.
const Row kMessages[] = {
    {1, "Brindlow"},
    {2, "보안매체 초기화"},
    {3, "슬롯 리스트 보기"},
    {4, "장치 리스트 보기"},
    {5, "세션 리스트 보기"},
    {6, "보안매체 비밀번호 변경"},
    {7, "로그아웃"},
    {8, "로그인"},
    {9, "종료"},
    {10, "정보"},
    {11, "보안매체 초기화"},
    {12, "보안디스크가 잠겼습니다. 저장소를 삭제 후 초기화 하시겠습니까?"},
    {13, "입력하신 비밀번호로 보안디스크 초기화가 정상적으로 이루어졌습니다."},
    {14, "비밀번호 변경이 정상적으로 이루어졌습니다."},
    {15, "보안디스크 초기화가 정상적으로 이루어졌습니다."},
    {16, "인증서 가져오기"},
    {17, "인증서를 보안디스크로 가져옵니다."},
    {18, "가져오기 완료.\n%d 개 성공, %d개 실패하였습니다."},
    {19, "인증서 관리"},
    {20, "인증서를 선택하십시오."},
    {21, "인증서 암호가 변경되었습니다."},
    {22, "인증서 암호 변경이 실패하였습니다."},
    {23, "인증서 암호 변경이 취소되었습니다."},
    {24, "인증서 복사가 완료되었습니다."},
    {25, "인증서 복사중 문제가 발생하였습니다."},
    {26, "인증서 복사가 취소되었습니다."},
    {27, "복사할 인증서의 암호가 틀렸습니다."},
    {28, "복사할 대상 매체가 없습니다."},
    {29, "인증서를 삭제하시겠습니까?"},
    {30, "인증서 삭제가 완료되었습니다."},
    {31, "인증서 삭제중 문제가 발생하였습니다."},
    {32, "인증서 삭제가 취소되었습니다."},
    {33, "인증서 내보내기"},
    {34, "인증서 내보내기가 완료되었습니다."},
    {35, "인증서 내보내기가 취소되었습니다."},
    {36, "내보내기 할 인증서의 암호를 입력해주십시오."},
    {37, "내보내기 할 인증서의 암호가 틀렸습니다."},
    {38, "저장할 인증서의 암호를 입력해주십시오."},
    {39, "저장할 인증서의 암호 확인을 입력해주십시오."},
    {40, "저장할 인증서의 암호와 암호 확인이 일치하지 않습니다."},
    {41, "PKCS#12 생성에 실패했습니다."},
    {42, "파일을 저장하지 못했습니다."},
    {43, "인증서 가져오기"},
    {44, "인증서 가져오기가 완료되었습니다."},
    {45, "인증서 가져오기가 취소되었습니다."},
    {46, "가져올 인증서의 암호를 입력해 주십시오."},
    {47, "가져올 인증서의 암호가 틀렸습니다."},
    {48, "저장할 인증서의 암호를 입력해 주십시오."},
    {49, "저장할 인증서의 암호 확인을 입력해 주십시오."},
    {50, "저장할 인증서의 암호와 암호 확인이 일치하지 않습니다."},
    {51, "가져올 인증서를 선택해주십시오."},
    {52, "인증서 파일을 읽어오지 못했습니다."},
    {53, "올바른 인증서 파일이 아닙니다."},
    {54, "인증서를 가져오지 못했습니다."},
    {55, "이 인증서는 삭제할 수 없는 경로에 있습니다."},
    {56, "이 인증서는 비밀번호를 변경할 수 없는 경로에 있습니다."},
    {58, " "},
};

const Row kReasons[] = {
    {1, "잘못된 입력값 사용"},
    {2, "프로그램이 이미 실행중입니다."},
    {3, "프로그램의 내부 서비스를 시작하지 못하였습니다."},
    {4, "프로그램의 내부 서비스를 시작하지 못하였습니다(권한부족)"},
    {5, "프로그램의 내부 서비스를 시작하지 못하였습니다(서비스 포트가 이미 사용중)"},
    {6, "프로그램의 내부 서비스를 중지하지 못하였습니다."},
    {7, "프로그램의 내부 서비스를 중지하였습니다."},
    {8, "이미 있는 인증서 입니다."},
    {9, "입력한 두개의 비밀번호가 일치하지 않습니다."},
    {10, "비밀번호가 일치하지 않습니다."},
    {11, "비밀번호가 만료었습니다."},
    {12, "보안디스크가 잠겼습니다. 초기화가 필요합니다."},
    {13, "사용중인 세션이 있어 초기화 할 수 없습니다."},
    {14, ""},
    {15, "값이 입력되지 않았습니다."},
    {16, "새 비밀번호가 일치하지 않습니다."},
    {17, "이전 비밀번호와 새 비밀번호가 동일합니다."},
    {19, "초기화 할 토큰을 선택하세요."},
    {20, "비밀번호 변경에 실패하였습니다."},
    {21, "보안디스크 초기화에 실패하였습니다."},
    {22, "보안디스크 인증에 실패하였습니다. 비밀번호를 확인하세요."},
    {23, "보안디스크 인증에 실패하였습니다."},
    {24, "암호는 10글자  이상 입력해 주세요."},
    {25, "\", ', |, \\ 는 사용하실 수 없습니다."},
    {26,
     "암호 생성 규칙:\n1. 10자 이상\n2. 숫자, 영소문자, 특수문자 반드시 포함(\", ', \\, | "
     "제외)\n3. 영문자는 대/소문자 구분됨\n4. 1111 또는 aaaa와 같이 4번 이상 같은 문자 연속으로 "
     "사용 불가\n5. 1234 또는 abcd 같이 4번 연속된 문자 사용 불가\n6. ababab와 같이 3번 이상 "
     "두글자 연속으로 사용 금지\n7. abcabc와 같이 2번 이상 세글자 연속으로 사용 금지"},
    {27, "비밀 번호에 중복된 문자가 너무 많습니다."},
    {28, "비밀 번호에 중복된 문자가 너무 많습니다."},
    {29, "비밀 번호에 너무 많은 공백을 사용하였습니다."},
    {30, "비밀 번호가 영문으로만 구성되었습니다."},
    {31, "비밀 번호가 숫자로만 구성되었습니다."},
    {37,
     "키보드 보안으로부터 패스워드를 가져오는데 실패하였습니다. 작업을 취소하고 다시 시도해주시기 "
     "바랍니다."},
    {38, "알 수 없는 오류입니다."},
};

const std::string kUnknown = "알 수 없는 오류";

// EUC-KR bytes as UTF-8 through the base library's converter; "<error>" when they do not convert.
std::string fromEucKr(const char* bytes) {
    if (!bytes) return "<null>";
    if (!*bytes) return "";
    char* utf8 = nullptr;
    if (SGCodecConvertCodeSet("ko_KR.euc-kr", "ko_KR.UTF-8", bytes, &utf8) != 0) return "<error>";
    std::string text(utf8);
    SGMemory_free(utf8);
    return text;
}

}  // namespace

TEST(MessageTables, EveryMessageDecodesToItsText) {
    for (const auto& row : kMessages) {
        const auto code = static_cast<MessageRes::MessageResCode>(row.code);
        EXPECT_EQ(fromEucKr(MessageRes::getMessage(code)), row.text) << row.code;
        EXPECT_EQ(MessageRes::getMessageNS(code), row.text) << row.code;
    }
    EXPECT_EQ(std::size(kMessages), 57u);
    // Numbers outside the table, a negative one included (a large unsigned key).
    for (int code : {0, 57, 59, -1, -57}) {
        const auto c = static_cast<MessageRes::MessageResCode>(code);
        EXPECT_EQ(fromEucKr(MessageRes::getMessage(c)), kUnknown) << code;
        EXPECT_EQ(MessageRes::getMessageNS(c), kUnknown) << code;
    }
    // The texts really are EUC-KR bytes, not UTF-8.
    EXPECT_STREQ(MessageRes::getMessage(MessageRes::MSG_QUIT), "\xc1\xbe\xb7\xe1");
}

TEST(MessageTables, EveryReasonDecodesToItsText) {
    for (const auto& row : kReasons) {
        const auto code = static_cast<TokenManagerError::TokenManagerErrorCode>(row.code);
        EXPECT_EQ(fromEucKr(TokenManagerError::getReason(code)), row.text) << row.code;
    }
    EXPECT_EQ(std::size(kReasons), 32u);
    for (int code : {0, 18, 32, 33, 34, 35, 36, 39, -1}) {
        const auto c = static_cast<TokenManagerError::TokenManagerErrorCode>(code);
        EXPECT_EQ(fromEucKr(TokenManagerError::getReason(c)), kUnknown) << code;
    }
    EXPECT_EQ(fromEucKr(TokenManagerError::getReason(TokenManagerError::REASON_UNKNOWN)),
              "알 수 없는 오류입니다.");
    EXPECT_STREQ(TokenManagerError::getReason(TokenManagerError::REASON_EMPTY), "");
    // The rules text shows as eight lines.
    const std::string rules =
        fromEucKr(TokenManagerError::getReason(TokenManagerError::REASON_PIN_RULES));
    EXPECT_EQ(std::count(rules.begin(), rules.end(), '\n'), 7);
}

TEST(MessageTables, ReasonIntoABufferWithItsCode) {
    char buffer[1024];
    int code = 0;
    std::memset(buffer, 'x', sizeof buffer);
    const char* text = TokenManagerError::getReason(TokenManagerError::REASON_PIN_CONFIRM_MISMATCH,
                                                    &code, buffer, 0);
    EXPECT_EQ(code, 9);
    EXPECT_STREQ(buffer, text);
    EXPECT_EQ(fromEucKr(buffer), "입력한 두개의 비밀번호가 일치하지 않습니다.");
    TokenManagerError::getReason(TokenManagerError::REASON_PIN_CONFIRM_MISMATCH, &code, buffer,
                                 1022);
    EXPECT_EQ(fromEucKr(buffer), "입력한 두개의 비밀번호가 일치하지 않습니다.(1022)");
    TokenManagerError::getReason(static_cast<TokenManagerError::TokenManagerErrorCode>(40), &code,
                                 buffer, -5);
    EXPECT_EQ(code, 40);
    EXPECT_EQ(fromEucKr(buffer), kUnknown + "(-5)");
    // The logging form answers the same text.
    EXPECT_EQ(TokenManagerError::getReason(TokenManagerError::REASON_SAME_PIN,
                                           Logger::getInstance(LOGGER_TYPE_TOKEN)),
              TokenManagerError::getReason(TokenManagerError::REASON_SAME_PIN));
}

TEST(MessageTables, RowsAddedBeforeTheFirstFillAreLostAndLaterOnesNeverReplace) {
    EXPECT_IN_FRESH_PROCESS([] {
        tokentest::Checks checks;
        MessageRes::addMessage(static_cast<MessageRes::MessageResCode>(57), "early");
        TokenManagerError::addReason(TokenManagerError::REASON_PIN_LENGTH, "early");
        checks.expect(!MessageRes::initialized, "not filled yet");
        MessageRes::initialize();
        checks.expect(MessageRes::initialized, "filled");
        checks.expect(fromEucKr(MessageRes::getMessage(
                          static_cast<MessageRes::MessageResCode>(57))) == kUnknown,
                      "early row dropped");
        checks.expect(
            fromEucKr(TokenManagerError::getReason(TokenManagerError::REASON_PIN_LENGTH)) ==
                "암호는 10글자  이상 입력해 주세요.",
            "early reason dropped");
        MessageRes::addMessage(MessageRes::MSG_CERT_PIN_CHANGED, "replaced");
        MessageRes::addMessage(static_cast<MessageRes::MessageResCode>(57), "added");
        MessageRes::addMessage(static_cast<MessageRes::MessageResCode>(60), nullptr);
        checks.expect(fromEucKr(MessageRes::getMessage(MessageRes::MSG_CERT_PIN_CHANGED)) ==
                          "인증서 암호가 변경되었습니다.",
                      "existing row kept");
        checks.expect(std::string(MessageRes::getMessage(
                          static_cast<MessageRes::MessageResCode>(57))) == "added",
                      "new row added");
        checks.expect(fromEucKr(MessageRes::getMessage(
                          static_cast<MessageRes::MessageResCode>(60))) == kUnknown,
                      "null text not stored");
        TokenManagerError::addReason(static_cast<TokenManagerError::TokenManagerErrorCode>(18),
                                     "added");
        checks.expect(std::string(TokenManagerError::getReason(
                          static_cast<TokenManagerError::TokenManagerErrorCode>(18))) == "added",
                      "new reason added");
        return checks.failures;
    });
}

TEST(MessageTables, CommittedTextsMatchTheirGenerator) {
    // The layer's folder by name: tests/data need not exist in a fresh checkout.
    const std::string data = BRINDLOW_TEST_DATA;
    const std::string layer = data.substr(0, data.rfind("/tests/data"));
    const std::string out = tokentest::freshFolder("tables") + "/MessageTexts.h";
    int status = -1;
    const std::string log =
        tokentest::run("python3 '" + layer + "/tables/make_message_tables.py' '" + layer +
                           "/tables/messages.txt' '" + out + "' 2>&1",
                       &status);
    ASSERT_EQ(status, 0) << log;
    EXPECT_EQ(tokentest::readText(out), tokentest::readText(layer + "/src/MessageTexts.h"));
}
