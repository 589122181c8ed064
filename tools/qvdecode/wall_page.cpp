#include "wall_page.h"

namespace qvtool {

// The pictures come as one mosaic per request (one connection however many cameras: a
// browser opens only six to a server), each tile cut from it onto its own canvas.
const char kWallPage[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>qvdecode wall</title>
<style>
  body { margin: 0; background: #111; color: #ddd; font: 13px system-ui, sans-serif; }
  header { display: flex; gap: 1em; align-items: baseline; padding: 6px 10px; }
  header h1 { font-size: 15px; margin: 0; white-space: nowrap; }
  #note { color: #999; }
  #stopped { color: #f66; display: none; }
  #grid { display: grid; gap: 6px; padding: 6px; }
  .tile { position: relative; background: #000; cursor: zoom-in; border: 2px solid #333; }
  .tile canvas { display: block; width: 100%; height: auto; }
  .bar { display: flex; justify-content: space-between; gap: 6px; padding: 3px 5px; background: #1c1c1c; }
  .name { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; }
  .badge { padding: 0 6px; border-radius: 3px; font-weight: bold; text-transform: uppercase; font-size: 11px; }
  .badge.live { background: #1a7f37; color: #fff; }
  .badge.away { background: #d1242f; color: #fff; }
  .badge.connecting { background: #bf8700; color: #000; }
  .tile[data-state="away"] { border-color: #d1242f; }
  .tile[data-state="connecting"] { border-color: #bf8700; }
  .figures { padding: 2px 5px 4px; color: #aaa; background: #1c1c1c; }
  body.solo #grid { grid-template-columns: 1fr !important; }
  body.solo .tile:not(.large) { display: none; }
  .tile.large { cursor: zoom-out; max-width: 1280px; margin: 0 auto; width: 100%; }
</style>
</head>
<body>
<header><h1>qvdecode wall</h1><span id="note"></span><span id="stopped">the wall is not answering</span></header>
<div id="grid"></div>
<script>
'use strict';
const grid = document.getElementById('grid');
const tiles = [];
let layout = null;
let version = -1;

const sleep = ms => new Promise(done => setTimeout(done, ms));

function build(status) {
  layout = status;
  grid.style.gridTemplateColumns = `repeat(${status.cols}, minmax(0, 1fr))`;
  for (const cam of status.cameras) {
    const tile = document.createElement('div');
    tile.className = 'tile';
    tile.dataset.index = cam.index;
    const canvas = document.createElement('canvas');
    canvas.width = status.tile_width;
    canvas.height = status.tile_height;
    const bar = document.createElement('div');
    bar.className = 'bar';
    const name = document.createElement('span');
    name.className = 'name';
    const badge = document.createElement('span');
    badge.className = 'badge';
    bar.append(name, badge);
    const figures = document.createElement('div');
    figures.className = 'figures';
    tile.append(canvas, bar, figures);
    tile.addEventListener('click', () => {
      const large = !tile.classList.contains('large');
      for (const t of tiles) t.element.classList.remove('large');
      tile.classList.toggle('large', large);
      document.body.classList.toggle('solo', large);
    });
    grid.append(tile);
    tiles.push({element: tile, canvas, context: canvas.getContext('2d'), name, badge, figures});
  }
}

function show(status) {
  let fromCapture = 0;
  for (const cam of status.cameras) {
    const t = tiles[cam.index];
    if (!t) continue;
    t.element.dataset.state = cam.state;
    t.name.textContent = `${cam.index + 1}. ${cam.url}`;
    t.name.title = cam.url;
    t.badge.textContent = cam.state;
    t.badge.className = `badge ${cam.state}`;
    const age = cam.age_ms === null ? 'no picture yet' : `age ${Math.round(cam.age_ms)} ms from ${cam.age_from}`;
    if (cam.age_ms !== null && cam.age_from === 'capture') ++fromCapture;
    t.figures.textContent = `${cam.pictures_per_second.toFixed(1)} pictures/s · ${age} · ` +
        `${cam.outages} outages · ${cam.skipped} skipped · ${cam.damaged} damaged`;
  }
  document.getElementById('note').textContent =
      `${status.cameras.length} cameras; age: from the sender's capture clock (RTCP) where it is known, ` +
      `else from the arrival of the picture (${fromCapture} from capture)`;
}

async function followStatus() {
  for (;;) {
    try {
      const response = await fetch('/status.json', {cache: 'no-store'});
      const status = await response.json();
      if (!layout) build(status);
      show(status);
      document.getElementById('stopped').style.display = 'none';
    } catch (e) {
      document.getElementById('stopped').style.display = 'inline';
    }
    await sleep(500);
  }
}

async function followPictures() {
  for (;;) {
    const start = performance.now();
    try {
      // Answered as soon as any tile has a newer picture than the one drawn (or after a while).
      const response = await fetch(`/wall.jpg?after=${version}`, {cache: 'no-store'});
      if (!response.ok) throw new Error(response.status);
      version = Number(response.headers.get('X-Picture'));
      const picture = await createImageBitmap(await response.blob());
      if (layout) {
        const w = layout.tile_width, h = layout.tile_height;
        tiles.forEach((t, i) => t.context.drawImage(picture, (i % layout.cols) * w, Math.floor(i / layout.cols) * h,
                                                    w, h, 0, 0, w, h));
      }
      picture.close();
      window.wallPictures = (window.wallPictures || 0) + 1;  // mosaics drawn, for measurements
    } catch (e) {
      await sleep(1000);
    }
    // No faster than the cameras' 25 pictures a second.
    await sleep(Math.max(0, 40 - (performance.now() - start)));
  }
}

followStatus();
followPictures();
</script>
</body>
</html>
)PAGE";

}  // namespace qvtool
