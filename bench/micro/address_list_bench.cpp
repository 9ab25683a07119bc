// The cost of an allow list on each new request or connection: parsing a list of 10,000 entries (paid once
// per change of the setting), looking a peer up in it, and reading the setting whole from the configuration
// file as a listener does for every peer (both paid per peer).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include "app/address_list.h"
#include "app/config_store.h"

namespace {

// 10,000 entries: single IPv4 addresses, IPv4 prefixes and IPv6 prefixes, in no order.
std::string TenThousandEntries() {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    if (i) text += ", ";
    int a = (i * 7919) % 250;
    int b = (i * 104729) % 256;
    switch (i % 3) {
      case 0:
        text += "10." + std::to_string(a) + "." + std::to_string(b) + ".1";
        break;
      case 1:
        text += "172." + std::to_string(16 + a % 16) + "." + std::to_string(b) + ".0/24";
        break;
      default:
        text += "fd00:" + std::to_string(a) + ":" + std::to_string(b) + "::/48";
    }
  }
  return text;
}

void ParseTenThousand(benchmark::State& state) {
  const std::string text = TenThousandEntries();
  for (auto _ : state) {
    auto list = hx::ParseAddressList(text);
    benchmark::DoNotOptimize(list);
  }
}
BENCHMARK(ParseTenThousand)->Unit(benchmark::kMillisecond);

void LookUpInTenThousand(benchmark::State& state) {
  const hx::AddressList list = std::get<hx::AddressList>(hx::ParseAddressList(TenThousandEntries()));
  const asio::ip::address peers[] = {
      asio::ip::make_address("10.3.4.1"),          asio::ip::make_address("192.0.2.7"),
      asio::ip::make_address("::ffff:172.20.9.9"), asio::ip::make_address("fd00:7:9::1"),
      asio::ip::make_address("2001:db8::1"),
  };
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(list.Allows(peers[i++ % std::size(peers)]));
}
BENCHMARK(LookUpInTenThousand);

// What a listener does per peer: the setting read whole (the store keeps the parsed file), compared with the
// text of the list it holds, and the lookup.
void ReadSettingAndLookUp(benchmark::State& state) {
  const std::string text = TenThousandEntries();
  std::filesystem::path ini =
      std::filesystem::temp_directory_path() / ("bench-allow-" + std::to_string(::getpid()) + ".ini");
  std::ofstream(ini) << "[FTP]\nFAllow=" << text << "\n";
  hx::ConfigStore config(ini);
  const hx::AddressList list = std::get<hx::AddressList>(hx::ParseAddressList(text));
  const asio::ip::address peer = asio::ip::make_address("192.0.2.7");
  for (auto _ : state) {
    std::string now = config.GetWholeProfileString("FTP", "FAllow");
    benchmark::DoNotOptimize(now == text && list.Allows(peer));
  }
  std::filesystem::remove(ini);
}
BENCHMARK(ReadSettingAndLookUp)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
