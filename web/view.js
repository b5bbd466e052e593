// The viewer: draws prints on canvases, zooms (fit, 1:1, 2:1), pans by
// dragging or by the keyboard, compares a conversion with its original
// (side by side, flicker, difference), shows prints inverted or with their
// contrast stretched, draws a scale bar in millimetres at the print's
// resolution and lists the header facts.

const FLICKER_MS = 600;
const DIFFERENCE_GAIN = 4;  // the difference view shows 128 + 4 (WSQ - original)
const STRETCH_CLIP = 0.005;  // the stretch maps the 0.5th and 99.5th percentiles to black and white
const SCALE_LENGTHS_MM = [50, 20, 10, 5, 2, 1];  // the bar takes the longest that fits
const SCALE_MAX_PX = 160;
const IDENTITY = Uint8Array.from({ length: 256 }, (_, v) => v);
const OPAQUE_GRAYS = Uint32Array.from(IDENTITY, (gray) => 0xff000000 | (gray * 0x010101));

const $ = (id) => document.getElementById(id);

export class Viewer {
  constructor() {
    this.zoom = 'fit';
    this.compare = 'side';
    this.canvases = [$('canvas-a'), $('canvas-b')];
    this.viewports = this.canvases.map((c) => c.parentElement);
    this.images = [];  // the frame of each pane on display
    this.flicker = null;
    this.look = { invert: false, stretch: false };
    this.rendered = new Map();  // frame -> its ImageData with the current look
    this.redraw = null;         // draws the current display again
    this.syncScroll();
    this.viewports.forEach((v) => dragToPan(v));
    let width = 0;  // fit follows the panes' width; their height follows the prints
    new ResizeObserver(([entry]) => {
      if (entry.contentRect.width === width) return;
      width = entry.contentRect.width;
      this.applyZoom();
    }).observe($('panes'));
  }

  setZoom(zoom) {
    this.zoom = zoom;
    pressOne('[data-zoom]', 'zoom', zoom);
    this.applyZoom();
  }

  setCompare(mode) {
    this.compare = mode;
    pressOne('[data-compare]', 'compare', mode);
    if (this.conversion) this.drawConversion();
  }

  // Invert or stretch ('invert', 'stretch') switched on or off for every print shown.
  toggleLook(name) {
    this.look[name] = !this.look[name];
    $(name).setAttribute('aria-pressed', String(this.look[name]));
    this.rendered.clear();
    this.redraw?.();
  }

  // One stream of a decoded WSQ file, at its resolution ({ppi, stated}).
  showPrint(title, stream, caption, resolution) {
    this.showPrints(title, [{ caption, ...stream }], resolution);
  }

  // One or two prints, {caption, pixels, width, height}, side by side, at the
  // first one's resolution, whose pixels a stretch of contrast measures.
  showPrints(title, prints, resolution) {
    this.conversion = null;
    this.begin(title, false, resolution, prints[0].pixels);
    const panes = prints.map(({ caption, pixels, width, height }) => ({ caption, frame: { pixels, width, height } }));
    this.redraw = () => this.draw(panes);
    this.redraw();
  }

  // An image made into WSQ: its gray original and, once decoded, the stream.
  showConversion(title, result) {
    const { width, height } = result;
    let differenceFrame = null;  // made when first asked for
    this.conversion = {
      original: { pixels: result.gray, width, height },
      coded: result.decoded && { pixels: result.decoded, width, height },
      difference: () => differenceFrame ??=
        { pixels: difference(result.gray, result.decoded), width, height, plain: true },
      bitrate: result.settings.bitrate,
    };
    this.begin(title, true, result.resolution, result.gray);
    this.redraw = () => this.drawConversion();
    this.redraw();
  }

  clear() {
    this.stopFlicker();
    this.conversion = this.redraw = null;
    this.images = [];
    this.rendered.clear();
    $('viewer-title').textContent = 'No file open';
    for (const id of ['tools', 'panes', 'pan-hint', 'scale', 'save-wsq']) $(id).hidden = true;
    $('placeholder').hidden = false;
    $('facts').replaceChildren();
  }

  setFacts(pairs) {
    fillFacts($('facts'), pairs);
  }

  // A new display: its title, its kind, the print's resolution and the pixels a
  // stretch of contrast measures.
  begin(title, isConversion, resolution, reference) {
    this.stopFlicker();
    this.rendered.clear();
    this.resolution = resolution;
    this.reference = reference;
    $('viewer-title').textContent = title;
    for (const id of ['tools', 'panes', 'pan-hint', 'scale']) $(id).hidden = false;
    $('placeholder').hidden = true;
    $('compare').hidden = $('save-wsq').hidden = $('reencode').hidden = !isConversion;
    $('save-png').disabled = false;
  }

  drawConversion() {
    const { original, coded, difference: differenceImage, bitrate } = this.conversion;
    const wsqCaption = `WSQ at ${bitrate} bits per pixel, decoded`;
    this.stopFlicker();
    for (const button of document.querySelectorAll('[data-compare], #save-png')) button.disabled = !coded;
    if (!coded)
      this.draw([{ caption: 'Original, gray (the WSQ stream is being decoded for the comparison)', frame: original }]);
    else if (this.compare === 'side')
      this.draw([{ caption: 'Original, gray', frame: original }, { caption: wsqCaption, frame: coded }]);
    else if (this.compare === 'difference')
      this.draw([{ caption: `Difference: mid gray where equal, WSQ minus original x${DIFFERENCE_GAIN}`, frame: differenceImage() }]);
    else {
      const frames = [{ caption: 'Original, gray (flicker)', frame: original }, { caption: `${wsqCaption} (flicker)`, frame: coded }];
      let shown = 0;
      this.draw([frames[0]]);
      this.flicker = setInterval(() => {
        shown ^= 1;
        this.paint(0, frames[shown]);
      }, FLICKER_MS);
    }
  }

  stopFlicker() {
    clearInterval(this.flicker);
    this.flicker = null;
  }

  draw(panes) {
    $('pane-b').hidden = panes.length < 2;
    panes.forEach((pane, i) => this.paint(i, pane));
    this.images = panes.map((p) => p.frame);
    this.applyZoom();
  }

  // The frame's ImageData with the current look (a difference is shown plain).
  render(frame) {
    if (!this.rendered.has(frame)) {
      const table = frame.plain ? IDENTITY : lookTable(this.reference, this.look);
      this.rendered.set(frame, grayImage(frame.pixels, frame.width, frame.height, table));
    }
    return this.rendered.get(frame);
  }

  paint(index, { caption, frame }) {
    const image = this.render(frame);
    const canvas = this.canvases[index];
    if (canvas.width !== image.width || canvas.height !== image.height) {
      canvas.width = image.width;
      canvas.height = image.height;
    }
    canvas.getContext('2d').putImageData(image, 0, 0);
    $(index ? 'caption-b' : 'caption-a').textContent = caption;
  }

  applyZoom() {
    this.images.forEach((image, i) => {
      const viewport = this.viewports[i], canvas = this.canvases[i];
      const scale = this.zoom === 'fit'
        ? Math.min(viewport.clientWidth / image.width, parseFloat(getComputedStyle(viewport).maxHeight) / image.height)
        : Number(this.zoom);
      canvas.style.width = `${Math.max(1, Math.floor(image.width * scale))}px`;
      canvas.style.height = `${Math.max(1, Math.floor(image.height * scale))}px`;
      canvas.classList.toggle('pixelated', scale > 1);
      viewport.classList.toggle('fit', this.zoom === 'fit');
    });
    this.showScale();
  }

  // The bar: the longest round length in millimetres that fits, as drawn at
  // the first pane's zoom and the print's resolution.
  showScale() {
    const image = this.images[0];
    if (!image || !this.resolution) return;
    const { ppi, stated } = this.resolution;
    const cssPerPixel = parseFloat(this.canvases[0].style.width) / image.width;
    const cssPerMm = cssPerPixel * ppi / 25.4;
    const mm = SCALE_LENGTHS_MM.find((length) => length * cssPerMm <= SCALE_MAX_PX) ?? SCALE_LENGTHS_MM.at(-1);
    $('scale-bar').style.width = `${mm * cssPerMm}px`;
    $('scale-label').textContent = `${mm} mm at ${ppi} ppi (${stated ? 'as the file states' : 'assumed'})`;
  }

  // Side by side, both panes show the same place of the print.
  syncScroll() {
    let leader = null;
    this.viewports.forEach((source, i) => source.addEventListener('scroll', () => {
      if (leader !== null && leader !== source) return;
      leader = source;
      const other = this.viewports[1 - i];
      other.scrollLeft = source.scrollLeft;
      other.scrollTop = source.scrollTop;
      requestAnimationFrame(() => { leader = null; });
    }));
  }
}

// A description list of [term, value] pairs, value text or a node.
export function fillFacts(list, pairs) {
  list.replaceChildren(...pairs.flatMap(([term, value]) => {
    const dt = document.createElement('dt'), dd = document.createElement('dd');
    dt.textContent = term;
    dd.append(value);
    return [dt, dd];
  }));
}

function pressOne(selector, key, value) {
  for (const button of document.querySelectorAll(selector))
    button.setAttribute('aria-pressed', String(button.dataset[key] === value));
}

// Opaque RGBA of gray pixels, each looked up in table, written a pixel at a
// time as one little-endian word (the byte order of typed arrays in every
// browser): alpha in the top byte.
export function grayImage(pixels, width, height, table = IDENTITY) {
  const image = new ImageData(width, height), words = new Uint32Array(image.data.buffer);
  const rgba = table === IDENTITY ? OPAQUE_GRAYS : OPAQUE_GRAYS.map((_, gray) => OPAQUE_GRAYS[table[gray]]);
  for (let i = 0; i < pixels.length; i++) words[i] = rgba[pixels[i]];
  return image;
}

// The gray each gray is shown as: stretched so that the reference pixels'
// percentiles STRETCH_CLIP and 1 - STRETCH_CLIP become black and white, then
// inverted, as look says.
function lookTable(reference, { invert, stretch }) {
  let [low, high] = [0, 255];
  if (stretch) [low, high] = percentiles(reference, STRETCH_CLIP);
  return IDENTITY.map((gray) => {
    const stretched = high > low ? Math.round(255 * Math.min(Math.max(gray - low, 0) / (high - low), 1)) : gray;
    return invert ? 255 - stretched : stretched;
  });
}

// The gray levels below which fraction of the pixels lie, and above which as many.
function percentiles(pixels, fraction) {
  const histogram = new Uint32Array(256);
  for (const gray of pixels) histogram[gray]++;
  const cut = fraction * pixels.length;
  let low = 0, high = 255;
  for (let below = histogram[0]; below <= cut && low < 255; below += histogram[++low]);
  for (let above = histogram[255]; above <= cut && high > 0; above += histogram[--high]);
  return [low, high];
}

function difference(original, coded) {
  const out = new Uint8ClampedArray(original.length);  // clamps to 0..255
  for (let i = 0; i < out.length; i++) out[i] = 128 + DIFFERENCE_GAIN * (coded[i] - original[i]);
  return out;
}

// Dragging with a mouse or pen pans; touch pans natively by scrolling.
function dragToPan(viewport) {
  let last = null;
  viewport.addEventListener('pointerdown', (e) => {
    if (e.pointerType === 'touch' || e.button !== 0) return;
    last = { x: e.clientX, y: e.clientY };
    viewport.setPointerCapture(e.pointerId);
    viewport.classList.add('dragging');
  });
  viewport.addEventListener('pointermove', (e) => {
    if (!last) return;
    viewport.scrollBy(last.x - e.clientX, last.y - e.clientY);
    last = { x: e.clientX, y: e.clientY };
  });
  const end = () => { last = null; viewport.classList.remove('dragging'); };
  viewport.addEventListener('pointerup', end);
  viewport.addEventListener('pointercancel', end);
}
