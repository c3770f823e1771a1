// The digest algorithms against published vectors and independent
// digests of patterned data, on the portable and the hardware paths.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "hash/file_digest.h"
#include "hash/md5.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

namespace veldro::hash {
namespace {

template <std::size_t N>
std::string hex(const std::array<unsigned char, N>& digest) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : digest) {
        out += digits[b >> 4U];
        out += digits[b & 15U];
    }
    return out;
}

// Feeds `data` in pieces of the given sizes, then whatever is left.
template <class Context>
std::string digest_with(Context& context, const std::string& data, const std::vector<std::size_t>& pieces) {
    context.start();
    std::size_t at = 0;
    for (std::size_t n : pieces) {
        context.add(data.data() + at, n);
        at += n;
    }
    context.add(data.data() + at, data.size() - at);
    return hex(context.finish());
}

std::vector<std::size_t> even_pieces(std::size_t total, std::size_t piece) {
    return std::vector<std::size_t>(total / piece, piece);
}

std::string digest_of(DigestKind kind, Engine engine, const std::string& data,
                      const std::vector<std::size_t>& pieces = {}) {
    switch (kind) {
        case DigestKind::md5: {
            Md5Context c;
            return digest_with(c, data, pieces);
        }
        case DigestKind::sha1: {
            Sha1Context c(engine);
            return digest_with(c, data, pieces);
        }
        case DigestKind::sha256: {
            Sha256Context c(engine);
            return digest_with(c, data, pieces);
        }
        case DigestKind::sha384: {
            Sha384Context c(engine);
            return digest_with(c, data, pieces);
        }
        case DigestKind::sha512: {
            Sha512Context c(engine);
            return digest_with(c, data, pieces);
        }
    }
    return {};
}

constexpr std::array<DigestKind, 5> all_kinds = {DigestKind::md5, DigestKind::sha1, DigestKind::sha256,
                                                 DigestKind::sha384, DigestKind::sha512};

// The byte pattern the boundary table below was computed from.
std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 131 + (i >> 8U) * 7 + 11) & 0xFFU);
    }
    return s;
}

std::string random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(gen() & 0xFFU);
    }
    return s;
}

class HashEngineTest : public ::testing::TestWithParam<Engine> {};

struct Vector {
    DigestKind kind;
    const char* message;
    std::size_t repeat;
    const char* expected;
};

TEST_P(HashEngineTest, PublishedVectors) {
    const char* const alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const char* const m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const char* const m896 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrs"
        "tu";
    const Vector vectors[] = {
        // RFC 1321, appendix A.5.
        {DigestKind::md5, "", 1, "D41D8CD98F00B204E9800998ECF8427E"},
        {DigestKind::md5, "a", 1, "0CC175B9C0F1B6A831C399E269772661"},
        {DigestKind::md5, "abc", 1, "900150983CD24FB0D6963F7D28E17F72"},
        {DigestKind::md5, "message digest", 1, "F96B697D7CB7938D525A2F31AAF161D0"},
        {DigestKind::md5, "abcdefghijklmnopqrstuvwxyz", 1, "C3FCD3D76192E4007DFB496CCA67E13B"},
        {DigestKind::md5, alnum, 1, "D174AB98D277D9F5A5611C2C9F419D9F"},
        {DigestKind::md5, "1234567890", 8, "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // FIPS 180 example messages.
        {DigestKind::sha1, "abc", 1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {DigestKind::sha1, m448, 1, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {DigestKind::sha1, "a", 1000000, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {DigestKind::sha256, "abc", 1, "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {DigestKind::sha256, m448, 1, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {DigestKind::sha256, "a", 1000000, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
        {DigestKind::sha384, "abc", 1,
         "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
        {DigestKind::sha384, m896, 1,
         "09330C33F71147E83D192FC782CD1B4753111B173B3B05D22FA08086E3B0F712FCC7C71A557E2DB966C3E9FA91746039"},
        {DigestKind::sha384, "a", 1000000,
         "9D0E1809716474CB086E834E310A4A1CED149E9C00F248527972CEC5704C2A5B07B8B3DC38ECC4EBAE97DDD87F3D8985"},
        {DigestKind::sha512, "abc", 1,
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE"
         "8"
         "0E2A9AC94FA54CA49F"},
        {DigestKind::sha512, m896, 1,
         "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD2"
         "654"
         "5E96E55B874BE909"},
        {DigestKind::sha512, "a", 1000000,
         "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EBDE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49A"
         "A2E"
         "4EADB217AD8CC09B"},
    };
    for (const Vector& v : vectors) {
        std::string message;
        for (std::size_t i = 0; i < v.repeat; ++i) {
            message += v.message;
        }
        SCOPED_TRACE(std::string(v.message).substr(0, 20) + " x" + std::to_string(v.repeat));
        EXPECT_EQ(digest_of(v.kind, GetParam(), message), v.expected);
        // The same message given in uneven pieces crosses the block edges
        // at other places.
        EXPECT_EQ(digest_of(v.kind, GetParam(), message, even_pieces(message.size(), 7)), v.expected);
    }
}

struct Boundary {
    std::size_t length;
    std::array<const char*, 5> expected;  // in the order of all_kinds
};

// Lengths around the block size and the last place the length field fits.
const Boundary boundaries[] = {
    {55,
     {"7A635CBE5A6D52E60C38C88FE9F95379", "E4716F32067F8010EAC8749E56E2EE75763D9C9D",
      "4559B8AC3CDCAF0DD666AD4C5181036A9752E87F216636A5399687A9F46179D2",
      "93080A7EF232BA9B86BA5DCDF6360880ADD80565863B189ED72763945494D54AF95593024CF85A4D159CF354EE517376",
      "C5673E123BBBDB98777A7ED515AC24CD2301C34310FACD87B6B00BABC09D95208120C1DD3D21978D9C5F1FE004EC4A04DBE5624005896A12"
      "C69A186FA68F9DF2"}},
    {56,
     {"3566B0DC8841FBEEBC769D2A5035A071", "31BBFCF2B1E88BE06D69053958FBD77D96DEC3A7",
      "BB2A337953DD5E50B427F00817E6FB99255B52C9AA3A9455A3C69978C3B677D7",
      "C6D781EE363A3F4E13FEB8F60D7CF31DB8AC8C116C3FD65D83B626C7E96BAF202E21967E2A17205F8F74B0E414439BFB",
      "2A596D0F1B0CBEC67C35D3E3A743BF8417045D1A01B8C913249E11FB6247D18B455C6053639F1D15544BD64F5474924DD059D23D2FD99894"
      "33E738FD2D6FE280"}},
    {63,
     {"E6A7324EFD787F92AF045755AFB27D15", "426F988CF251139BCFC6E78DE95F5F57154CE7EA",
      "9789851884035C3F7D5CD8AAB3B59964E8F215A1FC422FFA9CF73AC306D6DC14",
      "52ED0C5A0AA5CB9B2713B7EE7C5223D7ECA94245324508BD0A56AE89B6ADB66AFA805B6978EF0B4379951E4111CA4281",
      "7F5194B4A124765C185E6770A655899A628662CDB3FD38B785EB2F7C94F45088F0F45DBD8573B25489736ED670802D86A3FD08B5CD76570F"
      "5DD6B8EF095DF77F"}},
    {64,
     {"54093FFA93A867E917C2499700E0750A", "FD88C4A45D544977C2BD0B3EAFFEF8B30F1FFAC3",
      "882DAC4170FAE8746454B9B9ABF5B967C32E2AE9875ED519E5A6B36791DEF2A3",
      "45D4E9EB83854DA74C650642E503416F75DD8F2189A9F64B746976C58B1C7FC4F5A786F55DCE23E30B8B5BF87E5F7669",
      "5204CE67BADF02491EA47D0B4EDCAD38506EC6A0DB091AC57EDBBCA5CFBE12A78F393ABCEF65BC822B18709AA85216F6DCE068F8EC55C5CC"
      "B6BB35568F5764BF"}},
    {111,
     {"D2DF9DDC1CF28A4A9D448BAA20544406", "861002849CE5E398B7EFAE57D2DAA4E693067346",
      "8F9DC369D5661CF98F12C9200B746DEC106CC666A723F55F25ECD7972098A5BF",
      "DD77C23A37A11F3C2F41009B857560E53FC4905F5A49424A547DFF15AAC29F20456AB607A2AE00800D680A27A2AC280F",
      "29E27D54CE89EE5F82A5BAE843ECE56E508FDDB51B103D5CDCE9DE85E7C5F818959A060F0B732B1423731CD597EC131D37F5A2D18932DE96"
      "57A7C39A5B8A7FAF"}},
    {112,
     {"5BDFFE5A60DCBA8D41623D04695BDEF3", "EA61D5CBB2FF3C51DAE627FF9D85656911EC651C",
      "260FA59A89F37DEC99BA74FD60A385F77634F1EE708C5AF712EEBE12E9F4198B",
      "84CBDF7C90CEC5590BCF890F0A173BC5968F78E754939E481F1FB3C80E42C229CCF36F48CAC6539F1565DF55067E6B13",
      "3DDEC24F7151F8D75104C8FDD449CE9186623FC8F42E6FCD045B85E9FF2961058DF11F730A056ADE77C61E6816322E0EC4B35D2DEB4400C9"
      "CD673CC80754EE6F"}},
    {127,
     {"74F93FC85CBC0368A5885FEADAE43DD5", "41BBC93477EFF1C0D479F1050028AB899BB5993D",
      "82CD7050896B7550166B0A274B13825E827809448D878BB7C11BE093E4192EBF",
      "571FCC9D930789A8898C75768DF351548704A962536B41F87A3127D45623366D46D9745915A7E413B1073AA342B69ADB",
      "6633AF55DB6868B99CECBAC558584F336E15B816E15BBD55DA236B505B86F5B3431834CE9EB276EDE27A042915AAAA0CE7361EB51EE6006A"
      "C645CA7BEAF36D40"}},
    {128,
     {"14F08C6FB2427C25F5FBF3F83E4B613B", "32752508464E68C265C816E7FF3A28068AAF4B24",
      "096F884000C5E8FE2B476ECBFFD05B35A90DA240B9CD8E9685D8885F00CF2135",
      "827F8CCC1603559A7DCB9C841CB462EC0DF0085007DDD89150B7FBA088D4010C2C97FE1E5660629C1F02EE58FFAF78C7",
      "B22099B1171F6D3BA94807967003299E430134E78375B71D4FB55DF4DFADB85A11558DBCE7CD6E4999C8AE9DA945FBBB124F15209F8E718E"
      "C011CAEC49CF92C8"}},
    {65535,
     {"B3FC2C6C8204BEF6E1D06C1CF167E164", "29CCCEF747AE06E7356B1E851BB631F1A5BE2DA9",
      "388C9C556E2BBEDD4835D1654DB126A5744F30427B8618F2A2F8360C2E5CF18D",
      "E46DD94F6C7E5C84B1EA6B4D71ACEB544A3E5F08C85BA6FDAC74F4BEAE1524F8D2B1B5EE15695F5166AB70830B3C13BA",
      "9E6DD69B567E5DA5F04F75AB080E78E0365833BA90F5548A84ED6020552D6C8188D199F07DAF1732D247097A42DA662C1892BE7ED54F557A"
      "D0D8FBA3E19A827B"}},
    {65536,
     {"74B516B7A26008B99CDC297A78F6F5BE", "F33AC5D58CE20B6A5F679D4D49431A51D17767C1",
      "4A29B2E984EAF286B8C88227B7F8BCEE4920262EB81CC690EE6BD77E2A765D9A",
      "A785D82124255222D9BFF43BC570A0B0088A07C16620981634C6BFF3C89932AC073F1842EA683465516195F46F0885AD",
      "23AEC2D7DE2E4475ECB7286B784201C003C2B40CB044B9D30B999352DAE41F398E525FDD55134AB1746F3A2D11D2B3EB274C2560FD11D6F7"
      "7013C24D72D480E8"}},
    {65537,
     {"3F23D791C70CBB43000A79BDD00F4488", "6465766814201706103A3CE3CD835FBDDB05158B",
      "EBED4FEC32356574EB605D6930E986777D614BDFA416D50368D84792AED1B5B7",
      "28CD0C153906CE22B882BC980DA59ABF0C7CE53F976DB522F23991707532795E683BC1AC9119CECEF0923E1AC3F76196",
      "5B2AEC63B09E292A702890C615E5F8E1BF12BDA8A8696A2A52D29FC732D35A8B8B3D20D495D84EE01236E727DCC26D3C4E13F911F5ADF568"
      "A632B364DCB79BD6"}},
};

TEST_P(HashEngineTest, LengthsAroundBlockAndPaddingEdges) {
    for (const Boundary& b : boundaries) {
        const std::string data = pattern(b.length);
        for (std::size_t k = 0; k < all_kinds.size(); ++k) {
            SCOPED_TRACE("length " + std::to_string(b.length) + " kind " + std::to_string(k));
            EXPECT_EQ(digest_of(all_kinds[k], GetParam(), data), b.expected[k]);
            EXPECT_EQ(digest_of(all_kinds[k], GetParam(), data, even_pieces(b.length, 1000)), b.expected[k]);
        }
    }
}

TEST_P(HashEngineTest, AnySplitOfTheInputGivesTheSameDigest) {
    const std::string data = random_bytes(100'000, 7);
    std::mt19937 gen(11);
    // Random piece sizes, empty pieces included.
    std::vector<std::size_t> pieces;
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min<std::size_t>(gen() % 300, data.size() - at);
        pieces.push_back(n);
        at += n;
    }
    for (DigestKind kind : all_kinds) {
        EXPECT_EQ(digest_of(kind, GetParam(), data, pieces), digest_of(kind, GetParam(), data));
    }
}

TEST_P(HashEngineTest, StartForgetsEarlierInput) {
    Sha256Context c(GetParam());
    c.add("garbage", 7);
    const std::string expected = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_EQ(digest_with(c, "abc", {}), expected);
    // A finished context started again is as good as new.
    EXPECT_EQ(digest_with(c, "abc", {}), expected);
}

INSTANTIATE_TEST_SUITE_P(Engines, HashEngineTest, ::testing::Values(Engine::portable, Engine::best),
                         [](const ::testing::TestParamInfo<Engine>& param_info) {
                             return param_info.param == Engine::portable ? std::string("Portable")
                                                                         : std::string("Best");
                         });

TEST(HashHardware, AgreesWithPortableOnRandomData) {
    const CpuFeatures& cpu = cpu_features();
    if (!cpu.sha_extensions && !cpu.avx2) {
        GTEST_SKIP() << "this processor has neither the SHA extensions nor AVX2";
    }
    EXPECT_EQ(Sha1Context(Engine::best).uses_hardware(), cpu.sha_extensions);
    EXPECT_EQ(Sha256Context(Engine::best).uses_hardware(), cpu.sha_extensions);
    EXPECT_EQ(Sha512Context(Engine::best).uses_hardware(), cpu.avx2);
    EXPECT_FALSE(Sha512Context(Engine::portable).uses_hardware());
    std::mt19937 gen(3);
    // Odd and even block counts matter to the two-block SHA-512 path.
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t length = trial < 150 ? gen() % 2100 : gen() % 300'000;
        const std::string data = random_bytes(length, static_cast<std::uint32_t>(trial));
        for (DigestKind kind : {DigestKind::sha1, DigestKind::sha256, DigestKind::sha384, DigestKind::sha512}) {
            ASSERT_EQ(digest_of(kind, Engine::best, data), digest_of(kind, Engine::portable, data))
                << "length " << length;
        }
    }
}

}  // namespace
}  // namespace veldro::hash
