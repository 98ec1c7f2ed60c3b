// The work item of the queues' and workers' map interface: a map from key
// to value. Our own workers hand each other an UploadItem
// (upload_item.h); this map appears only where that interface asks for it.
#pragma once

#include <map>
#include <string>

namespace velkan {

// A map from key to value; one without a non-empty "object" is a stop item.
using WorkItem = std::map<std::string, std::string>;

bool isStopItem(const WorkItem& item);

}  // namespace velkan
