#include "catalogue.h"

#include "bytes.h"

namespace handheld {

std::string folderRequest(const std::string& path)
{
    return path.size() > 1 && path[0] == '/' ? "/" + path : path;
}

bool receiveListing(Commander& commander, int32_t rawLength, int32_t dataLength, Bytes& block,
                    std::string& error)
{
    if (rawLength < 0 || size_t(rawLength) > kMaxListingSize || dataLength < 0 || dataLength > rawLength
        || (rawLength > 0) != (dataLength > 0)) {
        error = "inconsistent lengths in the reply";
        return false;
    }
    Bytes data;
    if (!commander.receiveBlock(size_t(dataLength), data)) {
        error = "the listing did not arrive";
        return false;
    }
    if (dataLength == rawLength) {
        block = std::move(data);
        return true;
    }
    return inflateExact(data, size_t(rawLength), block, error);
}

Asked listFolder(Commander& commander, uint8_t command, const std::string& path, std::vector<ListingEntry>& entries,
                 std::string& error)
{
    Reply reply;
    if (!commander.exchange(command, buildPathPayload(folderRequest(path)), reply)) {
        error = "the server did not answer";
        return Asked::Unanswered;
    }
    if (reply.code != command) {
        error = "the server refused the folder";
        return Asked::Refused;
    }
    Bytes block;
    if (!receiveListing(commander, getLeInt32(reply.body.data()), getLeInt32(reply.body.data() + 4), block, error))
        return Asked::Unanswered;
    entries.clear();
    if (!block.empty() && !parseListing(block, entries, error))
        return Asked::Unanswered;
    return Asked::Answered;
}

// The record follows the reply whatever its code, so it is always read.
Asked describeFile(Commander& commander, const std::string& path, FileInfo& info, std::string& error)
{
    Reply reply;
    Bytes record;
    if (!commander.exchange(command::GetFileInfo, buildPathPayload(path), reply)
        || !commander.receiveBlock(kFileInfoSize, record)) {
        error = "the server did not answer";
        return Asked::Unanswered;
    }
    info = decodeFileInfo(std::span<const uint8_t, kFileInfoSize>(record));
    if (reply.code != command::GetFileInfo) {
        error = "the server could not open the file as media";
        return Asked::Refused;
    }
    return Asked::Answered;
}

}  // namespace handheld
