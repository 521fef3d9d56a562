// The sign-in form: the name and password go to the collector as JSON; a
// refusal always says the same thing.
const form = document.getElementById('login');
const error = document.getElementById('error');
const submit = document.getElementById('submit');

form.addEventListener('submit', async (e) => {
  e.preventDefault();
  error.hidden = true;
  submit.disabled = true;
  submit.textContent = 'Logowanie…';
  try {
    const r = await fetch('/api/login', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ user: form.user.value, password: form.password.value }),
      credentials: 'same-origin',
    });
    if (r.ok) {
      location.replace('/');
      return;
    }
    const body = await r.json().catch(() => ({}));
    error.textContent = body.error || 'Błędny login lub hasło';
  } catch {
    error.textContent = 'Brak połączenia z kolektorem';
  }
  error.hidden = false;
  submit.disabled = false;
  submit.textContent = 'Zaloguj';
  form.password.value = '';
  form.password.focus();
});
