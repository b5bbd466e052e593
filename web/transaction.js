// Transaction files in the page: the words for their codes (finger and palm
// positions, impressions), the Type-1 summary, the verdict in words and the
// grid of prints, each a button that opens the print and a target for an
// image dropped on it to replace the print.

const FINGERS = ['unknown finger', 'right thumb', 'right index', 'right middle', 'right ring', 'right little',
  'left thumb', 'left index', 'left middle', 'left ring', 'left little', 'plain right thumb', 'plain left thumb',
  'plain right four fingers', 'plain left four fingers', 'left and right thumbs'];
const PALMS = ['unknown palm', 'right full palm', "right writer's palm", 'left full palm', "left writer's palm",
  'right lower palm', 'right upper palm', 'left lower palm', 'left upper palm', 'right other palm', 'left other palm',
  'right interdigital', 'right thenar', 'right hypothenar', 'left interdigital', 'left thenar', 'left hypothenar',
  'right grasp', 'left grasp'];
const IMPRESSIONS = ['live-scan plain', 'live-scan rolled', 'non-live-scan plain', 'non-live-scan rolled',
  'latent impression', 'latent tracing', 'latent photo', 'latent lift', 'live-scan vertical swipe', undefined,
  'live-scan palm', 'non-live-scan palm'];
const WITHOUT_POSITION = { 7: 'user-defined image', 8: 'signature', 10: 'face or mark', 17: 'iris' };
const TYPE1 = [[2, 'Version'], [4, 'Type of transaction'], [5, 'Date'], [7, 'Destination agency'],
  [8, 'Originating agency'], [9, 'Control number'], [11, 'Scanning resolution'], [12, 'Transmitting resolution']];

// "right thumb" for code 1, "left full palm" for 23, "position 52" for a code without a name.
export function positionName(code) {
  return FINGERS[code] ?? PALMS[code - 20] ?? `position ${code}`;
}

// What a print shows: its most probable position, or what its record holds.
export function printName(image) {
  if (image.positions.length) return positionName(image.positions[0]);
  return WITHOUT_POSITION[image.type] ?? `Type-${image.type} image`;
}

export function impressionName(code) {
  return code === null ? 'not stated' : IMPRESSIONS[code] ?? `impression ${code}`;
}

// The facts of a print, as term and value pairs.
export function printFacts(image) {
  const others = image.positions.slice(1).map(positionName);
  return [
    ['Position', `${printName(image)}${others.length ? ` (or ${others.join(', ')})` : ''}`],
    ['Record', `Type-${image.type}, IDC ${image.idc}, record ${image.record} of the file`],
    ['Impression', impressionName(image.impression)],
    ['Compression', image.compressionName || 'not stated'],
    ['Size', image.width === null ? 'not stated' : `${image.width} x ${image.height} pixels`],
    ['Resolution', image.ppi === null ? 'not stated' : `${image.ppi} ppi`],
    ['Image data', `${image.dataLength} bytes at byte ${image.dataOffset}`],
  ];
}

// The Type-1 record's fields a reader looks for, and what the file holds.
export function summary(result) {
  const rows = TYPE1.filter(([number]) => result.type1[number] !== undefined)
    .map(([number, term]) => [term, readable(number, result.type1[number])]);
  const counts = new Map();
  for (const { type } of result.records) counts.set(type, (counts.get(type) ?? 0) + 1);
  const records = [...counts].map(([type, n]) => (n > 1 ? `${n} x Type-${type}` : `Type-${type}`));
  rows.push(['Records', `${result.records.length}: ${records.join(', ')}`]);
  rows.push(['File', `${result.bytes.length} bytes${result.edited ? ', edited here' : ''}`]);
  return rows;
}

function readable(number, value) {
  if (number === 5 && /^\d{8}$/.test(value)) return `${value.slice(0, 4)}-${value.slice(4, 6)}-${value.slice(6)}`;
  if ((number === 11 || number === 12) && Number(value) > 0)
    return `${value} pixels per mm (${Math.round(Number(value) * 25.4)} ppi)`;
  return value;
}

// The verdict in words, and what the reading tolerated (a warning, or null).
export function verdictText(verdict, warning) {
  const flaw = ({ message, statusName, offset }) => `${message} (${statusName}, at byte ${offset})`;
  const tolerated = warning ? `Not valid as it came: ${flaw(warning)}; it was read tolerating that. ` : '';
  if (verdict.valid && !warning)
    return 'Valid: every record agrees with its length and with the list in the Type-1 record, the mandatory ' +
      'fields are there, and every WSQ print agrees with its record.';
  if (verdict.valid) return `${tolerated}Otherwise valid.`;
  return `${tolerated}Not valid: ${flaw(verdict)}.`;
}

// One tile a print: a button with its thumbnail (drawn when it comes), its
// name and facts. open(index) opens it; replace(index, file) is given an image
// file dropped on it.
export function printTile(image, index, { open, replace }) {
  const li = document.createElement('li');
  li.className = 'print';
  const button = document.createElement('button');
  button.type = 'button';
  const canvas = document.createElement('canvas');
  canvas.className = 'thumb';
  canvas.width = canvas.height = 0;
  const name = document.createElement('span');
  name.className = 'print-name';
  name.textContent = printName(image);
  const facts = document.createElement('span');
  facts.className = 'print-facts';
  const size = image.width === null ? '' : ` · ${image.width} x ${image.height}`;
  facts.textContent = `Type-${image.type} · IDC ${image.idc} · ${image.compressionName || 'no compression stated'}${size}` +
    `${image.ppi ? ` · ${image.ppi} ppi` : ''} · ${impressionName(image.impression)}`;
  button.append(canvas, name, facts);
  button.setAttribute('aria-label', `Open ${name.textContent}, ${facts.textContent}`);
  button.addEventListener('click', () => open(index));
  li.addEventListener('dragover', (e) => { e.preventDefault(); li.classList.add('over'); });
  li.addEventListener('dragleave', () => li.classList.remove('over'));
  li.addEventListener('drop', (e) => {
    e.preventDefault();
    e.stopPropagation();
    li.classList.remove('over');
    if (e.dataTransfer.files.length) replace(index, e.dataTransfer.files[0]);
  });
  li.append(button);
  return li;
}
