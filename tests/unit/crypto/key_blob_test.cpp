// The private key blob built from the CRT key info.

#include "crypto/key_blob.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/unit/crypto/fake_jni.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A CRT key info whose numbers are recognisable: element i holds bytes 16 * i + j; e is 65537.
std::vector<Bytes> crtNumbers(size_t k) {
    const size_t lengths[] = {k, k / 2, k / 2, k / 2, k / 2, k / 2, k};
    std::vector<Bytes> numbers;
    for (int i = 0; i < 7; ++i) {
        Bytes number(lengths[i]);
        for (size_t j = 0; j < number.size(); ++j) {
            number[j] = static_cast<unsigned char>(16 * i + j);
        }
        numbers.push_back(number);
    }
    numbers.push_back({0x01, 0x00, 0x01, 0x00});
    return numbers;
}

class KeyBlobTest : public testing::Test {
protected:
    void TearDown() override {
        for (const std::string& problem : jni_.bookProblems()) {
            ADD_FAILURE() << "JNI books: " << problem;
        }
    }

    jobjectArray crtInfo(const std::vector<Bytes>& numbers) {
        std::vector<jobject> elements;
        for (const Bytes& number : numbers) {
            elements.push_back(jni_.bytes(number));
        }
        return jni_.objects(elements);
    }

    // Builds the blob and takes it over; empty when building fails, which must leave no blob.
    Bytes build(jobjectArray info) {
        BYTE* raw = reinterpret_cast<BYTE*>(&sentinel_);
        const int size = buildPrivateKeyBlob(jni_.env(), info, &raw);
        if (size == 0) {
            EXPECT_EQ(nullptr, raw) << "a failed build leaves no blob";
            return {};
        }
        EXPECT_NE(nullptr, raw);
        SecretBlock blob(raw, static_cast<size_t>(size));
        return Bytes(blob.data(), blob.data() + blob.size());
    }

    FakeJni jni_;
    int sentinel_ = 0;
};

TEST_F(KeyBlobTest, LaysOutA1024BitKeyAsThePlatformImportsIt) {
    const std::vector<Bytes> numbers = crtNumbers(128);
    const jobjectArray info = crtInfo(numbers);
    const Bytes blob = build(info);
    ASSERT_EQ(596u, blob.size());
    const Bytes header = {0x07, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 0x52, 0x53,
                          0x41, 0x32, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    EXPECT_EQ(header, Bytes(blob.begin(), blob.begin() + 20));
    size_t offset = 20;
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        // Copied as they stand: nothing reversed, nothing padded.
        EXPECT_EQ(numbers[i],
                  Bytes(blob.begin() + offset, blob.begin() + offset + numbers[i].size()));
        offset += numbers[i].size();
    }
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(
                numbers[i],
                jni_.contentOf(static_cast<jbyteArray>(jni_.env()->GetObjectArrayElement(info, i))))
                << "element " << i << " unchanged";
    }
}

TEST_F(KeyBlobTest, SizesFollowTheModulus) {
    const struct {
        size_t k;
        size_t exponentLength;
        size_t size;
        DWORD bits;
    } cases[] = {
            {64, 4, 308, 512},  {128, 4, 596, 1024}, {256, 4, 1172, 2048}, {512, 4, 2324, 4096},
            {100, 4, 470, 800}, {128, 5, 596, 1024},  // only the first four bytes of e are read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.k);
        std::vector<Bytes> numbers = crtNumbers(c.k);
        numbers[7].resize(c.exponentLength, 0xFF);
        const Bytes blob = build(crtInfo(numbers));
        ASSERT_EQ(c.size, blob.size());
        EXPECT_EQ(c.bits, static_cast<DWORD>(blob[12]) | static_cast<DWORD>(blob[13]) << 8 |
                                  static_cast<DWORD>(blob[14]) << 16 |
                                  static_cast<DWORD>(blob[15]) << 24);
        EXPECT_EQ((Bytes{0x01, 0x00, 0x01, 0x00}), Bytes(blob.begin() + 16, blob.begin() + 20));
    }
}

TEST_F(KeyBlobTest, GivesElementsBackInOrder) {
    const jobjectArray info = crtInfo(crtNumbers(64));
    build(info);
    ASSERT_EQ(8u, jni_.releases().size());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(jni_.env()->GetObjectArrayElement(info, i), jni_.releases()[i]) << i;
    }
}

// Every shape that would shift a field or read past an element gives no blob, and every
// element taken is given back.
TEST_F(KeyBlobTest, RefusesEveryMisshapenCrtKeyInfo) {
    struct Case {
        const char* name;
        std::vector<Bytes> numbers;
        int nullElement = -1;
    };
    std::vector<Case> cases;
    std::vector<Bytes> seven = crtNumbers(64);
    seven.pop_back();
    cases.push_back({"seven elements", seven});
    std::vector<Bytes> nine = crtNumbers(64);
    nine.push_back(Bytes(4));
    cases.push_back({"nine elements", nine});
    cases.push_back({"no elements", {}});
    for (int i = 0; i < 8; ++i) {
        cases.push_back({"a null element", crtNumbers(64), i});
    }
    for (int i = 1; i < 7; ++i) {
        for (int delta : {-1, 1}) {
            std::vector<Bytes> numbers = crtNumbers(64);
            numbers[i].resize(numbers[i].size() + delta);
            cases.push_back({"a component one byte off", numbers});
        }
    }
    std::vector<Bytes> shortExponent = crtNumbers(64);
    shortExponent[7].resize(3);
    cases.push_back({"e of three bytes", shortExponent});
    std::vector<Bytes> emptyExponent = crtNumbers(64);
    emptyExponent[7].clear();
    cases.push_back({"e of no bytes", emptyExponent});
    cases.push_back({"odd modulus length", crtNumbers(63)});
    cases.push_back({"empty modulus", crtNumbers(0)});
    for (size_t index = 0; index < cases.size(); ++index) {
        const Case& c = cases[index];
        SCOPED_TRACE(std::string(c.name) + " #" + std::to_string(index));
        std::vector<jobject> elements;
        for (size_t i = 0; i < c.numbers.size(); ++i) {
            elements.push_back(static_cast<int>(i) == c.nullElement ? nullptr
                                                                    : jni_.bytes(c.numbers[i]));
        }
        EXPECT_TRUE(build(jni_.objects(elements)).empty());
    }
    EXPECT_TRUE(build(nullptr).empty()) << "no CRT key info at all";
}

TEST_F(KeyBlobTest, GivesBackWhatItTookWhenTheVmRefusesAnElement) {
    for (int refused = 0; refused < 8; ++refused) {
        SCOPED_TRACE(refused);
        const std::vector<Bytes> numbers = crtNumbers(64);
        std::vector<jobject> elements;
        for (const Bytes& number : numbers) {
            elements.push_back(jni_.bytes(number));
        }
        jni_.refuseElements(static_cast<jbyteArray>(elements[refused]));
        EXPECT_TRUE(build(jni_.objects(elements)).empty());
    }
}

}  // namespace
