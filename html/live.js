// Keeps an open remote-control page true without reloading it: about once a
// second it asks the server for the room's device states (a 304 when nothing
// changed) and brings each tile's picture, links, words and level up to
// date, and the notice at the top with them. The page as served works
// without this script; it only updates what is already there.
(function () {
  'use strict';
  var main = document.querySelector('[data-room]');
  var room = main ? main.getAttribute('data-room') : '';
  if (room.charAt(0) === '<') room = '';
  var tag = '';
  var unreachable = 'The Casalux server cannot be reached: the states shown may be out of date.';

  function tiles() {
    var found = {};
    Array.prototype.forEach.call(document.querySelectorAll('.state[data-head]'), function (s) {
      found[s.getAttribute('data-head')] = s;
    });
    return found;
  }

  // The picture and the two links of the cell that holds a state text.
  function cellOf(state) {
    var cell = state.parentNode;
    return { pictures: cell.querySelectorAll('img'), links: cell.querySelectorAll('a[href]') };
  }

  function label(state, device) {
    var cell = cellOf(state);
    Array.prototype.forEach.call(cell.pictures, function (img) {
      img.alt = device.name + ': ' + device.text;
    });
  }

  function show(device, state) {
    var cell = cellOf(state);
    var word = device.on ? '~turnoff~' : '~turnon~';
    Array.prototype.forEach.call(cell.links, function (a) {
      a.setAttribute('href', a.getAttribute('href').replace(/~turno(n|ff)~/i, word));
    });
    Array.prototype.forEach.call(cell.pictures, function (img) {
      if (img.getAttribute('src') !== device.picture) img.setAttribute('src', device.picture);
    });
    state.textContent = device.text;
    state.parentNode.classList.toggle('on', device.on);
    var level = state.parentNode.querySelector('input.level');
    if (level && document.activeElement !== level) level.value = String(device.level);
    label(state, device);
  }

  function setNotice(text) {
    var banner = document.getElementById('livenotice');
    if (!text) {
      if (banner) banner.parentNode.removeChild(banner);
      return;
    }
    if (!banner) {
      banner = document.createElement('p');
      banner.id = 'livenotice';
      banner.className = 'notice';
      banner.setAttribute('role', 'status');
      document.body.insertBefore(banner, document.body.firstChild);
    }
    if (banner.textContent !== text) banner.textContent = text;
  }

  function apply(states) {
    var found = tiles();
    states.devices.forEach(function (device) {
      if (found[device.head]) show(device, found[device.head]);
    });
    // The notice the page was served with is now the live one.
    Array.prototype.forEach.call(document.querySelectorAll('body > p.notice:not(#livenotice)'),
      function (p) { if (p.textContent === states.notice) p.parentNode.removeChild(p); });
    setNotice(states.notice);
    document.body.classList.remove('stale');
  }

  function ask() {
    var request = new XMLHttpRequest();
    request.open('GET', 'states.json?' + room);
    request.timeout = 3000;
    if (tag) request.setRequestHeader('If-None-Match', tag);
    request.onload = function () {
      if (request.status === 200) {
        tag = request.getResponseHeader('ETag') || '';
        try { apply(JSON.parse(request.responseText)); } catch (e) { tag = ''; }
      } else if (request.status === 304) {
        document.body.classList.remove('stale');
        var banner = document.getElementById('livenotice');
        if (banner && banner.textContent === unreachable) setNotice('');
      } else {
        tag = '';
      }
      setTimeout(ask, 1000);
    };
    request.onerror = request.ontimeout = function () {
      tag = '';
      document.body.classList.add('stale');
      setNotice(unreachable);
      setTimeout(ask, 2000);
    };
    request.send();
  }

  // Level controls: shown only here, where they work; one dim command
  // when let go, through the same link path as a click.
  Array.prototype.forEach.call(document.querySelectorAll('input.level'), function (level) {
    level.hidden = false;
    level.addEventListener('change', function () {
      window.location.href = level.getAttribute('data-dim') + level.value +
        level.getAttribute('data-tail');
    });
  });
  // Words for the pictures straight away, from the text beside them.
  Array.prototype.forEach.call(document.querySelectorAll('.state[data-head]'), function (s) {
    var name = s.parentNode.querySelector('b a');
    label(s, { name: name ? name.textContent.trim() : '', text: s.textContent });
    s.parentNode.classList.toggle('on', s.textContent.indexOf('On') === 0);
  });
  ask();
})();
