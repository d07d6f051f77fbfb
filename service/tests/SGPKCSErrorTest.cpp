#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "SGPKCSError.h"

namespace {

struct Row {
    int code;
    const char* text;
};

// Every row of the text table, in its order.
const Row kRows[] = {
    {10001, "입력 값이 잘못 되었음."},
    {10002, "out of memory"},
    {10003, "모르는 알고리즘."},
    {10004, "데이터가 없음."},
    {10005, "비밀번호가 없음."},
    {10007, "인증서가 없음."},
    {10008, "CRL이 없음."},
    {10009, "out of range."},
    {10010, "this function does not implemented."},
    {10011, "this function does not supported."},
    {10013, "internal error.."},
    {20900, "ASN 인코딩에 실패함."},
    {20901, "ASN 디코딩에 실패함."},
    {20904, "데이터가 올바르지 않습니다."},
    {10102, "unknown content type"},
    {10103, "unmatched content type"},
    {10104, "unsupported content type"},
    {10105, "unknown signature algorithm"},
    {10106, "unknown digest algorithm"},
    {10107, "unknown encryption algorithm"},
    {10108, "unsupported encryption algorithm"},
    {10109, "unknown setof struct type"},
    {10110, "unmatched setof struct type"},
    {10111, "unsupported option"},
    {10112, "pbe parameter need"},
    {10113, "bad issuer and serial number"},
    {10114, "algorithm parameter need"},
    {10350, "파일을 찾지 못했습니다."},
    {10351, "인증서를 찾지 못했습니다."},
    {10352, "루트 인증서를 찾지 못했습니다."},
    {10353, "신뢰하는 루트 인증서가 아닙니다."},
    {10402, "CRLDP가 없습니다."},
    {10403, "crl not search serialnumber"},
    {10404, "crl unknown crlreason oid"},
    {10405, "CRL이 비어있습니다."},
    {10407, "CRL오류1"},
    {10408, "CRL오류2"},
    {10409, "CRL오류3"},
    {10410, "CRL오류4"},
    {10411, "CRL 발급자가 잘못되었습니다."},
    {10412, "CRL 서명 인증서의 키 사용 용도가 잘못되었습니다."},
    {10420, "찾는 객체가 없습니다."},
    {10421, "no entry"},
    {10422, "찾은 객체의 속성이 존재하지 않습니다."},
    {10423, "찾은 객체의 속성이 비어있습니다."},
    {10501, "content type unknown"},
    {10502, "content info invalid"},
    {10503, "mac is different"},
    {10504, "attribute unknown"},
    {10505, "bagtype unknown"},
    {10506, "unsupported option"},
    {10601, "[개발용] 필요한 콜백 함수가 없습니다."},
    {10602, "[개발용] 콜백 함수에서 서명 결과를 저장할 버퍼의 길이를 반환함."},
    {10603, "sign 콜백 함수에서 실패했습니다."},
    {10605, "비정상 상태를 전달 받았습니다."},
    {10604, "알수없는 상태를 전달 받았습니다."},
    {10606,
     "인증기관에서 전달받은 메시지의 Protection 검증에 실패하였습니다. (인가코드가 잘못되었을 수 "
     "있음)"},
    {10607, "인증기관에서 전달받은 메시지의 Protection 검증에 실패하였습니다."},
    {10608, "[내부오류] 관리 목적이 잘못되었습니다."},
    {10609, "예상치 못한 통신 메시지가 전달되었습니다."},
    {10610, "이전 인증서가 올바르지 않습니다."},
    {10611, "getPublicKey 콜백 함수에서 실패하였습니다."},
    {10612, "decrypt 콜백 함수에서 실패하였습니다."},
    {10700, "인증서 경로 검증 실패.(reason을 확인)"},
    {10701, "인증서 체인 생성에 실패"},
    {20915, "명시되지 않은 오류."},
};

TEST(SGPKCSError, EveryCodeOfTheTableHasItsText) {
    ASSERT_EQ(sizeof kRows / sizeof kRows[0], 66u);
    for (const Row& row : kRows)
        EXPECT_STREQ(SGPKCSError_GetReason(row.code), row.text) << row.code;
}

TEST(SGPKCSError, CodesWithoutRowGetTheDefaultText) {
    for (int code : {0, -1, 10006, 10012, 10018, 10028, 10300, 10604 + 100000, 20902, 20903, 20914,
                     2147483647})
        EXPECT_STREQ(SGPKCSError_GetReason(code), "not specified error") << code;
}

TEST(SGPKCSError, TextsAreUtf8AndStatic) {
    // "입력" in UTF-8.
    const std::string text = SGPKCSError_GetReason(10001);
    EXPECT_EQ(text.substr(0, 6), "\xEC\x9E\x85\xEB\xA0\xA5");
    EXPECT_EQ(SGPKCSError_GetReason(10001), SGPKCSError_GetReason(10001));
    // The last row is compared like every other.
    EXPECT_STREQ(SGPKCSError_GetReason(20915), "명시되지 않은 오류.");
}

TEST(SGPKCSError, ConcurrentFirstCallsAgree) {
    std::vector<std::thread> threads;
    std::vector<std::string> seen(8);
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            for (int n = 0; n < 200; ++n) seen[i] = SGPKCSError_GetReason(10604);
        });
    for (auto& t : threads) t.join();
    for (const auto& s : seen) EXPECT_EQ(s, "알수없는 상태를 전달 받았습니다.");
}

}  // namespace
