#pragma once

#include <asio/ip/address.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/address_list.h"
#include "app/address_notice_limit.h"
#include "app/app_context.h"
#include "app/config_keys.h"

namespace hx {

// A service's allow list (TAllow, FAllow) as its listener applies it to each new request or connection. The
// setting is read at every call, so that a change reaches the next peer while running sessions go on; its
// text is parsed again only when it changed. Used on the listener's thread only.
class AllowGate {
 public:
  // `source` is the service's log source (cfg::kSourceTftp, cfg::kSourceFtp); `turnedAway` ends its log
  // line ("its requests are ignored").
  AllowGate(AppContext& context, const cfg::TextSetting& setting, int source, std::string_view turnedAway);

  // Why the service must not start: its list cannot be read. Names the service, the key and the entry.
  std::optional<std::string> StartRefusal();
  // Whether the peer may come in. A peer turned away is logged once a minute per address. A list that was
  // spoilt while the service runs lets nobody in (the log says why), rather than everyone.
  bool Admit(const asio::ip::address& peer);

 private:
  const std::variant<AddressList, AddressListError>& Current();
  std::string ServiceName() const;

  AppContext& m_context;
  const cfg::TextSetting& m_setting;
  int m_source;
  std::string m_turnedAway;
  std::string m_text;  // the setting's text that m_list was parsed from
  std::variant<AddressList, AddressListError> m_list;
  AddressNoticeLimit m_noticed;
};

}  // namespace hx
