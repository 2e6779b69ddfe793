// The same answer (a 20-row score table as JSON) from each candidate HTTP
// library, to measure them with wrk before choosing one (docs/PERFORMANCE.md).
#include <string>
// A reply the size of a 20-row score table.
inline std::string Body() {
    std::string s = "{\"scores\":[";
    for (int i = 0; i < 20; i++) { if (i) s += ","; s += "{\"rank\":" + std::to_string(i+1) + ",\"id\":" + std::to_string(1000+i) + ",\"name\":\"player name\",\"score\":123456,\"wave\":12,\"mode\":\"medium\",\"date\":\"2024-01-01T00:00:00Z\"}"; }
    return s + "]}";
}
