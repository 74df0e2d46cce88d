// Loading, registration, the console command and the shared object itself.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/module/host_fixture.h"

namespace g729_test {
namespace {

TEST_F(LoadedModule, ModuleInformationRecord) {
    const cvn_module_info* info = nullptr;
    for (const cvn_module_info* m : corvane::loaded_modules()) {
        if (std::string(m->name) == "codec_g729a") info = m;
    }
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->description, "Vornade G.729 Annex A Codec (optimized for x86_64");
    EXPECT_EQ(info->flags, 3u);
    EXPECT_EQ(info->load_pri, 128);
    EXPECT_EQ(info->support_level, 2);
    EXPECT_NE(info->self, nullptr) << "the host stored its handle before load";
}

TEST_F(LoadedModule, TranslatorDescriptors) {
    struct Expect {
        cvn_translator* t;
        const char* name;
        const char* src;
        const char* dst;
        bool own_frameout;
    };
    const Expect expects[] = {
        {encoder_translator(), "lintog729", "slin", "g729", true},
        {decoder_translator(), "g729tolin", "g729", "slin", false},
    };
    for (const Expect& e : expects) {
        ASSERT_NE(e.t, nullptr) << e.name;
        EXPECT_STREQ(e.t->name, e.name);
        EXPECT_STREQ(e.t->src_codec.name, e.src);
        EXPECT_STREQ(e.t->dst_codec.name, e.dst);
        EXPECT_EQ(e.t->src_codec.sample_rate, 8000u);
        EXPECT_EQ(e.t->dst_codec.sample_rate, 8000u);
        EXPECT_EQ(e.t->src_codec.type, CVN_MEDIA_TYPE_AUDIO);
        EXPECT_STREQ(e.t->format, e.dst);
        EXPECT_EQ(e.t->frameout != nullptr, e.own_frameout) << e.name;
        EXPECT_EQ(e.t->destroy, nullptr);
        EXPECT_EQ(e.t->feedback, nullptr);
        EXPECT_EQ(e.t->buffer_samples, 8000);
        EXPECT_EQ(e.t->buffer_size, 16000);
        EXPECT_GT(e.t->desc_size, 0);
        EXPECT_EQ(e.t->native_plc, 0);
        EXPECT_GT(e.t->cost, 0) << "measured at registration";
    }
}

TEST_F(LoadedModule, ShowVersionPrintsOneLineWhateverFollows) {
    const std::string line = "Vornade G.729A Module Version 21.0_3.1.10 (optimized for x86_64\n";
    for (const char* command : {"g729 show version", "g729 show version please now", "  g729   show version"}) {
        int status = -1;
        EXPECT_EQ(corvane::execute(command, &status), line) << command;
        EXPECT_EQ(status, 0);
    }
    EXPECT_NE(corvane::execute("help").find("Show G.729 Module Version"), std::string::npos);
    EXPECT_EQ(corvane::execute("help g729 show version"),
              "Usage: show g729 version\n       Displays G.729 module version\n");
}

TEST(ModuleLifecycle, UnloadRemovesTranslatorsAndCommand) {
    corvane::set_log_echo(false);
    std::string error;
    ASSERT_TRUE(corvane::load_module(G729A_MODULE_PATH, error)) << error;
    ASSERT_NE(corvane::find_translator("slin", "g729"), nullptr);
    EXPECT_TRUE(corvane::reload_module("codec_g729a", error)) << "reload changes nothing";
    ASSERT_NE(corvane::find_translator("g729", "slin"), nullptr);
    ASSERT_TRUE(corvane::unload_module("codec_g729a", error)) << error;
    EXPECT_EQ(corvane::find_translator("slin", "g729"), nullptr);
    EXPECT_EQ(corvane::find_translator("g729", "slin"), nullptr);
    int status = 0;
    corvane::execute("g729 show version", &status);
    EXPECT_EQ(status, 1) << "the command is gone";
    EXPECT_TRUE(corvane::loaded_modules().empty());
}

// A translator of the same name already registered makes the module's second
// registration (lintog729) fail: the load fails and takes back the first.
TEST(ModuleLifecycle, FailedSecondRegistrationLeavesNothingRegistered) {
    corvane::set_log_echo(false);
    cvn_translator squatter{};
    std::strcpy(squatter.name, "lintog729");
    squatter.src_codec = {"slin", CVN_MEDIA_TYPE_AUDIO, 8000};
    squatter.dst_codec = {"slin", CVN_MEDIA_TYPE_AUDIO, 8000};
    squatter.framein = [](cvn_trans_pvt*, cvn_frame*) { return 0; };
    squatter.buffer_size = 16;
    ASSERT_EQ(__cvn_register_translator(&squatter, nullptr), 0);

    std::string error;
    EXPECT_FALSE(corvane::load_module(G729A_MODULE_PATH, error));
    EXPECT_NE(error.find("failed to load"), std::string::npos) << error;
    EXPECT_EQ(corvane::find_translator("g729", "slin"), nullptr) << "g729tolin was taken back";
    ASSERT_EQ(corvane::translators().size(), 1u);
    EXPECT_EQ(corvane::translators()[0], &squatter);
    int status = 0;
    corvane::execute("g729 show version", &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(corvane::loaded_modules().empty());

    cvn_unregister_translator(&squatter);
    ASSERT_TRUE(corvane::load_module(G729A_MODULE_PATH, error)) << "a later load works: " << error;
    EXPECT_TRUE(corvane::unload_module("codec_g729a", error));
}

// The built file, read as ELF: the manifest section and the symbols it
// offers to the dynamic linker.
class SharedObject : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(G729A_MODULE_PATH, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
        header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
        ASSERT_EQ(0, std::memcmp(header->e_ident, ELFMAG, SELFMAG));
        ASSERT_EQ(header->e_ident[EI_CLASS], ELFCLASS64);
        sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
    }
    const Elf64_Shdr* section(const std::string& name) const {
        const char* names = reinterpret_cast<const char*>(image.data() + sections[header->e_shstrndx].sh_offset);
        for (int i = 0; i < header->e_shnum; ++i) {
            if (name == names + sections[i].sh_name) return &sections[i];
        }
        return nullptr;
    }
    std::vector<char> image;
    const Elf64_Ehdr* header = nullptr;
    const Elf64_Shdr* sections = nullptr;
};

TEST_F(SharedObject, CarriesTheManifestSection) {
    const Elf64_Shdr* manifest = section(".cvn_manifest");
    ASSERT_NE(manifest, nullptr);
    EXPECT_EQ(std::string(image.data() + manifest->sh_offset, manifest->sh_size), "codec_g729a,,21.0_3.1.10\n");
}

TEST_F(SharedObject, ExportsNoSymbols) {
    const Elf64_Shdr* dynsym = section(".dynsym");
    ASSERT_NE(dynsym, nullptr);
    const Elf64_Shdr* dynstr = &sections[dynsym->sh_link];
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + dynsym->sh_offset);
    std::vector<std::string> exported;
    for (size_t i = 0; i < dynsym->sh_size / sizeof(Elf64_Sym); ++i) {
        const Elf64_Sym& s = symbols[i];
        const int binding = ELF64_ST_BIND(s.st_info);
        if (s.st_shndx != SHN_UNDEF && (binding == STB_GLOBAL || binding == STB_WEAK)) {
            exported.push_back(image.data() + dynstr->sh_offset + s.st_name);
        }
    }
    EXPECT_TRUE(exported.empty()) << "first exported: " << exported.front();
}

} // namespace
} // namespace g729_test
