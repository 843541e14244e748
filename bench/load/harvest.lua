-- wrk script of the service load run: every request asks for the pictures of a
-- page not asked before, and every answer is checked: 200 with the number of
-- records a page of the slow site gives, or 503 (the service is full).
--   wrk ... -s harvest.lua http://service -- <site base> <records per page>
local threads = {}

function setup(thread)
  thread:set("id", #threads)
  table.insert(threads, thread)
end

function init(args)
  site = args[1]
  expected = tonumber(args[2])
  wrong = 0
  n = 0
end

function request()
  n = n + 1
  return wrk.format("GET", "/products/skarvel/scripts/get_images.php?url=" .. site .. "/page/" .. id .. "-" .. n .. ".html")
end

function response(status, headers, body)
  local _, records = body:gsub("\r\n", "")
  if (status == 200 and records ~= expected) or (status ~= 200 and status ~= 503) then
    wrong = wrong + 1
  end
end

function done(summary, latency, requests)
  local wrongAnswers = 0
  for _, t in ipairs(threads) do
    wrongAnswers = wrongAnswers + t:get("wrong")
  end
  local e = summary.errors
  io.write(string.format("RESULT %d %.3f %.1f %.1f %d %d %d\n", summary.requests, summary.duration / 1e6,
    latency:percentile(50) / 1000, latency:percentile(99) / 1000, e.status,
    e.connect + e.read + e.write + e.timeout, wrongAnswers))
end
