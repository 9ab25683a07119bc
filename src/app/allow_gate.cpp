#include "app/allow_gate.h"

#include "app/address_text.h"
#include "app/clock.h"
#include "app/config_store.h"
#include "app/transfer_log.h"

namespace hx {

AllowGate::AllowGate(AppContext& context, const cfg::TextSetting& setting, int source,
                     std::string_view turnedAway)
    : m_context(context), m_setting(setting), m_source(source), m_turnedAway(turnedAway) {}

const std::variant<AddressList, AddressListError>& AllowGate::Current() {
  // The empty text is the list of everyone that m_list starts as.
  std::string text = cfg::ReadWhole(m_context.config, m_setting);
  if (text != m_text) {
    m_list = ParseAddressList(text);
    m_text = std::move(text);
  }
  return m_list;
}

std::string AllowGate::ServiceName() const {
  return m_source == cfg::kSourceTftp ? "TFTP" : "FTP";
}

std::optional<std::string> AllowGate::StartRefusal() {
  const auto* error = std::get_if<AddressListError>(&Current());
  if (!error) return std::nullopt;
  return ServiceName() + " server not started: " + m_setting.section + "/" + m_setting.key + " " +
         DescribeAddressListError(*error);
}

bool AllowGate::Admit(const asio::ip::address& peer) {
  const auto& list = Current();
  const auto* allowed = std::get_if<AddressList>(&list);
  if (allowed && allowed->Allows(peer)) return true;
  if (!m_noticed.Admit(peer, m_context.clock.Now())) return false;
  std::string address = AddressText(peer);
  if (allowed)
    m_context.log.OnLogLine(m_source, ServiceName() + ": Address " + address + " is not in " + m_setting.key +
                                          "; " + m_turnedAway);
  else
    m_context.log.OnLogLine(m_source, ServiceName() + ": " + m_setting.key + " cannot be used (" +
                                          DescribeAddressListError(std::get<AddressListError>(list)) +
                                          "); address " + address + " is turned away");
  return false;
}

}  // namespace hx
